#pragma once

#include <cstdint>
#include <span>

// Builds one frame of the diagnostic channel into a buffer the caller owns: Begin (an
// optional leading flag), Append (payload bytes, stuffed and fed into the FCS, in as many
// pieces as the caller has), Finish (the FCS, low byte first and stuffed, and the trailing
// flag). A step that would write past the end of the buffer writes nothing and fails the
// frame; every later step fails too, so the caller checks only Finish.
class CHdlcFrameWriter {
public:
    // Corrupted flips the lowest bit of both FCS bytes: a frame the peer must reject.
    enum class Fcs { Correct, Corrupted };

    explicit CHdlcFrameWriter(std::span<uint8_t> out);

    // Starts a frame at the start of the buffer (discarding anything begun before).
    bool Begin(bool leadingFlag);
    bool Append(const uint8_t* bytes, uint32_t count);
    bool Finish(Fcs fcs = Fcs::Correct);

    // Length of the finished frame; 0 before Finish and after any failed step.
    uint32_t Length() const { return m_bFinished && !m_bFailed ? m_Pos : 0; }

private:
    bool Put(uint8_t byte);

    std::span<uint8_t> m_Out;
    uint32_t m_Pos = 0;
    uint16_t m_Crc = 0;
    bool m_bBegun = false;
    bool m_bFinished = false;
    bool m_bFailed = false;
};
