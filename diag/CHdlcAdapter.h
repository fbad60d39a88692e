#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "diag/CResponseQueue.h"
#include "net/CTcpPort.h"
#include "net/INetPort.h"
#include "platform/CCriticalSection.h"
#include "platform/CEvent.h"
#include "platform/NonCopyable.h"
#include "wire/DiagProtocol.h"

// Owns one network port to the router and speaks framed (or raw) bytes over it. While the
// reader thread runs it cuts the incoming stream into frames and stores every good payload
// in the response queue; requests then wait on that queue. Without the reader, Read takes
// the first good frame straight from the port.
class CHdlcAdapter : public NonCopyable {
public:
    // Room for the largest frame the download step builds: the largest block with its 7-byte
    // header, every byte and both FCS bytes stuffed, plus both flags.
    static constexpr uint32_t WRITE_BUFFER_SIZE =
        2 * (DiagProtocol::BLOCK_HEADER_LENGTH + DiagProtocol::MAX_BLOCK_LENGTH + 2) + 2; // 8212
    // Largest payload a framed Write accepts (its frame must fit the write buffer).
    static constexpr uint32_t MAX_FRAMED_PAYLOAD = (WRITE_BUFFER_SIZE - 6) / 2;
    static constexpr uint32_t STOP_WAIT_MS = 10000;

    static constexpr int32_t STATE_OPEN = 0;
    static constexpr int32_t STATE_CLOSED = 2;

    CHdlcAdapter();
    ~CHdlcAdapter() override;

    // Connects to `address`:`port` with a port of `portType` (INetPort::PORT_TYPE_UDP or
    // PORT_TYPE_TCP). An open adapter is closed first.
    bool Open(const std::string& address, uint16_t port, int portType);
    bool CreateNetPort(const std::string& address, uint16_t port, int portType);
    // Network interface the ports made from now on are tied to (empty: the system's choice).
    void SetInterface(const std::string& name) { m_strInterface = name; }
    // How long a TCP port made from now on waits for its connection (reconnections too).
    void SetConnectTimeout(uint32_t timeoutMs) { m_nConnectTimeoutMs = timeoutMs; }
    // An event (or null; not owned) that ends a connection wait of the TCP port at once
    // when it is set; applies to the port that exists and to later ones.
    void SetCancelHandle(const CWsaEvent* stop);
    // Stops the reader, closes and releases the port.
    bool Close();

    bool StartReader();
    // Always true; never leaves the reader thread running.
    bool StopReader();
    bool IsReaderRunning() const { return m_pReaderThread != nullptr; }

    // How Write sends its bytes.
    enum class WriteAs {
        Raw,          // unchanged
        Frame,        // as one frame, without a leading flag
        FlaggedFrame, // as one frame that begins with a flag of its own
    };
    // The frame of a leading-flag setting: FlaggedFrame when it is non-zero.
    static constexpr WriteAs FrameWith(int leadingFlag)
    {
        return leadingFlag != 0 ? WriteAs::FlaggedFrame : WriteAs::Frame;
    }
    bool Write(WriteAs as, const void* bytes, uint32_t length, uint32_t timeoutMs);
    // One received payload: the newest matching one from the queue while the reader runs,
    // else the first good frame read from the port.
    bool Read(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t ignored, uint32_t timeoutMs);

    // The port's last error, or none when no port exists.
    std::error_code GetLastPortError();
    CResponseQueue& Responses() { return m_Responses; }
    // The WRITE_BUFFER_SIZE-byte buffer in which the download step builds whole frames
    // before a raw Write. Allocated on first use; null only when allocation fails.
    uint8_t* WriteBuffer();
    uint32_t GetWriteLength() const { return m_WriteLength; }

    bool IsOpen() const { return m_State.load() == STATE_OPEN; }

private:
    void ReaderThreadProc();
    void ReaderLoop();
    bool DirectRead(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs);
    bool EnsureWriteBuffer();
    INetPort* Port();

    std::atomic<int32_t> m_State{STATE_CLOSED};
    std::unique_ptr<std::thread> m_pReaderThread;
    std::atomic<int32_t> m_StopFlag{0};
    CEvent m_ReaderExited{true, false};
    CCriticalSection m_Lock;
    std::atomic<INetPort*> m_pPort{nullptr};
    CResponseQueue m_Responses;
    std::unique_ptr<uint8_t[]> m_pWriteBuffer;
    uint32_t m_WriteLength = 0;
    std::string m_strInterface;
    uint32_t m_nConnectTimeoutMs = CTcpPort::DEFAULT_CONNECT_TIMEOUT_MS;
    std::atomic<const CWsaEvent*> m_pCancel{nullptr};
};
