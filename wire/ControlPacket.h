#pragma once

#include <array>
#include <cstdint>

// The 40-byte control packet of the router transfer channel: 0xFF, a 29-byte text chosen
// by the kind (zero for other kinds), a 32-bit little-endian value at offset 30, six zero
// bytes. The router's result packet has the same layout; its value is the result.
namespace ControlPacket {

constexpr uint32_t SIZE = 40;
constexpr uint32_t TEXT_OFFSET = 1;
constexpr uint32_t TEXT_SIZE = 29;
constexpr uint32_t VALUE_OFFSET = 30;
constexpr uint32_t ZERO_TAIL_OFFSET = 34; // bytes 34 to 39
constexpr uint8_t LEAD_BYTE = 0xFF;

// Kinds: the start of a router image transfer (the value is the image's data length), and
// the start of a wireless module transfer, normal or forced (value 0).
constexpr int CONTROL_RUT_BEGIN = 0;
constexpr int CONTROL_FWT_BEGIN = 1;
constexpr int CONTROL_FWT_FORCE = 2;
// What a packet without a known kind's text is (the router's result packet).
constexpr int NO_KIND = -1;

// The router's result value for an image it has written.
constexpr uint32_t ROUTER_RESULT_OK = 4;

// Text of a kind; nullptr for any other kind.
const char* KindText(int kind);
// Log line written before a packet of `kind` is sent; nullptr for any other kind.
const char* KindLogLine(int kind);

std::array<uint8_t, SIZE> Build(int kind, uint32_t value);
// The router's result packet: no text, the result as its value.
std::array<uint8_t, SIZE> BuildResult(uint32_t value);

// The kind whose text a packet of SIZE bytes carries, or NO_KIND.
int KindOf(const uint8_t* packet);
// The value at offset 30 of a packet of SIZE bytes.
uint32_t ValueOf(const uint8_t* packet);

// True for a result packet: exactly 40 bytes whose first is 0xFF; `value` gets offset 30.
bool ParseResult(const uint8_t* bytes, uint32_t length, uint32_t& value);

} // namespace ControlPacket
