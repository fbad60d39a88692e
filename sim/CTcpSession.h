#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ISession.h"

class CSimContext;

// The router's TCP port 1280: one connection carries HDLC frames both ways (the control
// packets of a transfer, and DIAG and downloader commands that the router passes to the
// wireless module) and, after a RUT begin packet, exactly the announced number of raw
// image bytes, answered by a result packet once the router has "flashed" them.
class CTcpSession : public ISession {
public:
    // Largest frame body accepted (the largest block write, fully stuffed, takes 8210).
    static constexpr size_t MAX_FRAME_BODY = 16384;
    static constexpr uint32_t MAX_IMAGE_LENGTH = 512u * 1024u * 1024u;

    CTcpSession(CSimContext& context, uint32_t conn);

    void OnBytes(const uint8_t* data, size_t length) override;
    void Tick(uint32_t now) override;
    int64_t MsUntilNextEvent(uint32_t now) const override;

    // A framed payload sent to the tool (with leading flag), after the drawn latency plus
    // `extraDelayMs`, never before a frame sent earlier. Public for tests.
    void SendFrame(const uint8_t* payload, size_t length, uint32_t extraDelayMs = 0);

private:
    enum class State { Frames, ImageData, Flashing };

    // A frame waiting for its delay to pass.
    struct Delayed {
        uint32_t due;
        std::vector<uint8_t> bytes;
    };

    void FrameByte(uint8_t byte);
    void EndFrame();
    void Dispatch(const uint8_t* payload, size_t length);
    void ControlPacket(const uint8_t* payload, size_t length);
    size_t ImageData(const uint8_t* data, size_t length);
    void SendResult();
    void Queue(std::vector<uint8_t> frame, uint32_t delayMs);
    void ReleaseDue(uint32_t now);

    CSimContext& m_Context;
    uint32_t m_nConn;
    State m_State = State::Frames;
    std::vector<uint8_t> m_Collect;
    bool m_bOverflow = false;
    uint32_t m_nImageLength = 0;
    uint32_t m_nImageReceived = 0;
    std::vector<uint8_t> m_ImageHead; // the first bytes: the container header
    uint32_t m_nResultDue = 0;
    uint64_t m_nImageDigest = 0;    // CBlockMemory digest state of the image data so far
    std::vector<Delayed> m_Delayed; // in the order they are due
};
