#include "wire/CHdlcFrameWriter.h"

#include "platform/ByteOrder.h"
#include "wire/HdlcFraming.h"

namespace {
constexpr uint16_t CORRUPT_FCS_MASK = 0x0101;
} // namespace

CHdlcFrameWriter::CHdlcFrameWriter(std::span<uint8_t> out) : m_Out(out) {}

bool CHdlcFrameWriter::Put(uint8_t byte)
{
    if (m_Pos >= m_Out.size()) {
        m_bFailed = true;
        return false;
    }
    m_Out[m_Pos++] = byte;
    return true;
}

bool CHdlcFrameWriter::Begin(bool leadingFlag)
{
    m_Pos = 0;
    m_Crc = HDLC_CRC_INIT;
    m_bBegun = true;
    m_bFinished = false;
    m_bFailed = false;
    return !leadingFlag || Put(HDLC_FLAG);
}

bool CHdlcFrameWriter::Append(const uint8_t* bytes, uint32_t count)
{
    if (!m_bBegun || m_bFinished || m_bFailed || (bytes == nullptr && count != 0)) {
        m_bFailed = true;
        return false;
    }
    if (!HdlcStuffAppend(m_Out, m_Pos, bytes, count, m_Crc))
        m_bFailed = true;
    return !m_bFailed;
}

bool CHdlcFrameWriter::Finish(Fcs fcs)
{
    if (!m_bBegun || m_bFinished || m_bFailed) {
        m_bFailed = true;
        return false;
    }
    uint16_t value = static_cast<uint16_t>(m_Crc ^ 0xFFFF);
    if (fcs == Fcs::Corrupted)
        value ^= CORRUPT_FCS_MASK;
    uint8_t fcsBytes[2];
    WriteLe16(fcsBytes, value);
    uint16_t unused = 0;
    if (!HdlcStuffAppend(m_Out, m_Pos, fcsBytes, sizeof fcsBytes, unused) || !Put(HDLC_FLAG)) {
        m_bFailed = true;
        return false;
    }
    m_bFinished = true;
    return true;
}
