#pragma once

// Image files read by their byte layout alone (docs/image-format.md), without the product's
// reader, and the simulator's digest computed without its code: what a test expects the
// router to have received is derived from the file's bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kivtest {

struct ImagePart {
    uint32_t targetAddress = 0;
    std::vector<uint8_t> data;
};

// The parts of an image file, in file order; a test failure (and what was read so far) when
// the bytes do not hold one.
std::vector<ImagePart> ImagePartsOf(const std::vector<uint8_t>& file);

// A run of contiguous addresses of the module's memory and the digest of its bytes.
struct MemoryExtent {
    uint32_t address = 0;
    uint64_t length = 0;
    std::string digest;
    bool operator==(const MemoryExtent& other) const = default;
};

// The parts put at their target addresses, as runs of contiguous addresses in address order.
std::vector<MemoryExtent> ExtentsOf(const std::vector<ImagePart>& parts);

// The simulator's transcript digest of a byte run: 64-bit FNV-1a, as 16 lower-case hex digits.
std::string Fnv1aDigest(const std::vector<uint8_t>& bytes);

} // namespace kivtest
