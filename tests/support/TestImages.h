#pragma once

// Image bytes for tests, made with the product's image builder.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivtest {

// `size` bytes of a pattern that depends on `seed` and holds the HDLC flag and escape bytes
// (0x7E, 0x7D) within the first few dozen, so framing and stuffing get exercised.
std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed = 1);

// A wireless image of `fileType` with one part per entry of `lengths`: pattern data, unlock
// code "UNLOCK0<i>", target address 0x1000 x (i + 1). Empty (a test failure) when the builder
// refuses.
std::vector<uint8_t> WirelessImage(uint32_t fileType, const std::vector<size_t>& lengths, uint32_t blockSize = 4096,
                                   const std::string& version = "1.2.3.4");

// A router image of one part whose data carry `kindBits` at their kind-bits offset.
std::vector<uint8_t> RouterImage(uint32_t kindBits, size_t length = 5000);

// A router-module image of `type` (0..6) as the router takes it: one part holding the
// sample container header for `type` and `payloadSize` pattern bytes.
std::vector<uint8_t> RouterSampleImage(uint32_t type, uint32_t payloadSize);

// Changes the `count` bytes at `offset` of `bytes` (each XOR 0x5A), then the last two bytes
// of the block [blockStart, blockStart + blockLength) so that the block's CRC-16 stays what
// it was: a change that no block checksum can see. `offset` + `count` must end before those
// two bytes.
void ChangeKeepingCrc(std::vector<uint8_t>& bytes, size_t blockStart, size_t blockLength, size_t offset, size_t count);

} // namespace kivtest
