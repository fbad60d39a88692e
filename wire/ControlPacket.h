#pragma once

#include <array>
#include <cstdint>

// The 40-byte control packet of the router transfer channel: 0xFF, a 29-byte text chosen
// by the kind (zero for other kinds), a 32-bit little-endian value at offset 30, six zero
// bytes. The router's result packet has the same layout.
namespace ControlPacket {

constexpr uint32_t SIZE = 40;
constexpr uint32_t TEXT_OFFSET = 1;
constexpr uint32_t TEXT_SIZE = 29;
constexpr uint32_t VALUE_OFFSET = 30;
constexpr uint8_t LEAD_BYTE = 0xFF;

// Text of kind 0 (RUT begin), 1 (FWT begin), 2 (FWT force); nullptr for any other kind.
const char* KindText(int kind);
// Log line written before a packet of `kind` is sent; nullptr for any other kind.
const char* KindLogLine(int kind);

std::array<uint8_t, SIZE> Build(int kind, uint32_t value);

// True for a result packet: exactly 40 bytes whose first is 0xFF; `value` gets offset 30.
bool ParseResult(const uint8_t* bytes, uint32_t length, uint32_t& value);

} // namespace ControlPacket
