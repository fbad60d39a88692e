#pragma once

#include <cstdint>

// Cuts a byte stream into frames, one byte at a time, the way the channel reader does:
// bytes other than 0x7E are collected (at most 1024; the 1025th byte without a flag clears
// the collection and is dropped too); a flag with at least 3 bytes collected ends a frame,
// which is decoded in place; a flag with fewer bytes is ignored and the bytes stay.
class CHdlcFrameCollector {
public:
    static constexpr uint32_t CAPACITY = 1024;

    enum class Result {
        None,     // the byte was collected or ignored; no frame ended
        Frame,    // a good frame ended: Payload() / PayloadLength() hold its payload
        BadFrame, // a frame ended but did not decode (bad FCS or too short)
    };

    // Feeds one received byte.
    Result Push(uint8_t byte);

    // The payload of the last good frame; valid until the next Push.
    const uint8_t* Payload() const { return m_Buffer; }
    uint32_t PayloadLength() const { return m_PayloadLength; }

    uint32_t Count() const { return m_Count; }
    void Clear()
    {
        m_Count = 0;
        m_PayloadLength = 0;
    }

private:
    uint8_t m_Buffer[CAPACITY] = {};
    uint32_t m_Count = 0;
    uint32_t m_PayloadLength = 0;
};
