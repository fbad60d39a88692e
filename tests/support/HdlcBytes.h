#pragma once

// Byte strings in tests: hex text both ways and HDLC frames as the router sends them.

#include <cstdint>
#include <string>
#include <vector>

namespace kivtest {

using Bytes = std::vector<uint8_t>;

// "4B C9 03 FF" (spaces optional between bytes) as bytes.
Bytes Hex(const std::string& text);
// Bytes as "4B C9 03 FF".
std::string ToHex(const Bytes& bytes);

// The frame of `payload`: escaped, FCS appended, closing flag, and `leading` opening flags.
Bytes Frame(const Bytes& payload, int leading = 0);
// The payload of one frame (flags allowed around it); empty when its FCS is wrong.
Bytes Unframe(const Bytes& frame);
// The payload of every frame in a byte stream, cut at the flags; an empty payload stands
// for a frame that did not decode.
std::vector<Bytes> Payloads(const Bytes& stream);

} // namespace kivtest
