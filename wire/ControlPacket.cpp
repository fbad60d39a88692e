#include "wire/ControlPacket.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace ControlPacket {

const char* KindText(int kind)
{
    switch (kind) {
    case CONTROL_RUT_BEGIN: return "Varoni RUT Begin Download Pkt";
    case CONTROL_FWT_BEGIN: return "Varoni FWT Begin Download Pkt";
    case CONTROL_FWT_FORCE: return "Varoni FWT Force Download Pkt";
    default: return nullptr;
    }
}

const char* KindLogLine(int kind)
{
    switch (kind) {
    case CONTROL_RUT_BEGIN: return "Sending RUT Begin Pkt";
    case CONTROL_FWT_BEGIN: return "Sending FWT Begin Pkt";
    case CONTROL_FWT_FORCE: return "Sending FWT Force Pkt";
    default: return nullptr;
    }
}

std::array<uint8_t, SIZE> Build(int kind, uint32_t value)
{
    std::array<uint8_t, SIZE> packet{};
    packet[0] = LEAD_BYTE;
    if (const char* text = KindText(kind))
        std::memcpy(packet.data() + TEXT_OFFSET, text, TEXT_SIZE);
    WriteLe32(packet.data() + VALUE_OFFSET, value);
    return packet;
}

std::array<uint8_t, SIZE> BuildResult(uint32_t value) { return Build(NO_KIND, value); }

int KindOf(const uint8_t* packet)
{
    for (int kind : {CONTROL_RUT_BEGIN, CONTROL_FWT_BEGIN, CONTROL_FWT_FORCE}) {
        if (std::memcmp(packet + TEXT_OFFSET, KindText(kind), TEXT_SIZE) == 0)
            return kind;
    }
    return NO_KIND;
}

uint32_t ValueOf(const uint8_t* packet) { return ReadLe32(packet + VALUE_OFFSET); }

bool ParseResult(const uint8_t* bytes, uint32_t length, uint32_t& value)
{
    if (bytes == nullptr || length != SIZE || bytes[0] != LEAD_BYTE)
        return false;
    value = ValueOf(bytes);
    return true;
}

} // namespace ControlPacket
