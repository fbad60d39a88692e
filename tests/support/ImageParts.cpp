#include "tests/support/ImageParts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace kivtest {

namespace {

constexpr size_t FILE_HEADER = 92;
constexpr size_t PART_HEADER = 98;
constexpr uint64_t FNV_OFFSET = 0xcbf29ce484222325ull;
constexpr uint64_t FNV_PRIME = 0x100000001b3ull;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

uint64_t Fnv1a(uint64_t state, const std::vector<uint8_t>& bytes)
{
    for (uint8_t byte : bytes)
        state = (state ^ byte) * FNV_PRIME;
    return state;
}

std::string Hex64(uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

std::vector<ImagePart> ImagePartsOf(const std::vector<uint8_t>& file)
{
    std::vector<ImagePart> parts;
    size_t at = FILE_HEADER;
    while (at < file.size()) {
        if (file.size() - at < PART_HEADER) {
            ADD_FAILURE() << "no whole part header at offset " << at;
            return parts;
        }
        const uint32_t headerSize = Le32(file, at + 4); // 98 + 2 x blocks: with the checksum table
        const uint32_t length = Le32(file, at + 24);
        if (headerSize < PART_HEADER || file.size() - at - headerSize < length) {
            ADD_FAILURE() << "part at offset " << at << " runs past the end of the file";
            return parts;
        }
        ImagePart part;
        part.targetAddress = Le32(file, at + 20);
        const auto data = file.begin() + static_cast<long>(at + headerSize);
        part.data.assign(data, data + length);
        parts.push_back(std::move(part));
        at += (headerSize + length + 3) / 4 * 4; // padded to a multiple of four
    }
    return parts;
}

std::vector<MemoryExtent> ExtentsOf(const std::vector<ImagePart>& parts)
{
    std::vector<const ImagePart*> sorted;
    for (const ImagePart& part : parts)
        sorted.push_back(&part);
    std::sort(sorted.begin(), sorted.end(),
              [](const ImagePart* a, const ImagePart* b) { return a->targetAddress < b->targetAddress; });
    std::vector<MemoryExtent> extents;
    uint64_t state = FNV_OFFSET;
    for (const ImagePart* part : sorted) {
        if (extents.empty() || extents.back().address + extents.back().length != part->targetAddress) {
            if (!extents.empty())
                extents.back().digest = Hex64(state);
            extents.push_back({part->targetAddress, 0, std::string()});
            state = FNV_OFFSET;
        }
        state = Fnv1a(state, part->data);
        extents.back().length += part->data.size();
    }
    if (!extents.empty())
        extents.back().digest = Hex64(state);
    return extents;
}

std::string Fnv1aDigest(const std::vector<uint8_t>& bytes) { return Hex64(Fnv1a(FNV_OFFSET, bytes)); }

} // namespace kivtest
