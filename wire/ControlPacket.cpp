#include "wire/ControlPacket.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace ControlPacket {

const char* KindText(int kind)
{
    switch (kind) {
    case 0: return "Varoni RUT Begin Download Pkt";
    case 1: return "Varoni FWT Begin Download Pkt";
    case 2: return "Varoni FWT Force Download Pkt";
    default: return nullptr;
    }
}

const char* KindLogLine(int kind)
{
    switch (kind) {
    case 0: return "Sending RUT Begin Pkt";
    case 1: return "Sending FWT Begin Pkt";
    case 2: return "Sending FWT Force Pkt";
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

bool ParseResult(const uint8_t* bytes, uint32_t length, uint32_t& value)
{
    if (bytes == nullptr || length != SIZE || bytes[0] != LEAD_BYTE)
        return false;
    value = ReadLe32(bytes + VALUE_OFFSET);
    return true;
}

} // namespace ControlPacket
