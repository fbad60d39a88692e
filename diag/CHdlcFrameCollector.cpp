#include "diag/CHdlcFrameCollector.h"

#include "wire/HdlcFraming.h"

CHdlcFrameCollector::Result CHdlcFrameCollector::Push(uint8_t byte)
{
    m_PayloadLength = 0;
    if (byte == HDLC_FLAG) {
        if (m_Count < 3)
            return Result::None; // too short to end a frame: keep collecting
        const uint32_t length = HdlcDecode(m_Buffer, m_Count, m_Buffer);
        m_Count = 0;
        if (length == 0)
            return Result::BadFrame;
        m_PayloadLength = length;
        return Result::Frame;
    }
    if (m_Count >= CAPACITY) {
        m_Count = 0; // no flag within 1024 bytes: discard, this byte included
        return Result::None;
    }
    m_Buffer[m_Count++] = byte;
    return Result::None;
}
