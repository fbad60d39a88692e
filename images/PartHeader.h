#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/ImageType.h"

// Image container layout. All numbers in the file are little-endian.

// File type word at offset 0 of the file header.
constexpr uint32_t FILE_TYPE_WIRELESS_UNSTATED = 0;
constexpr uint32_t FILE_TYPE_FIRMWARE = 1;
constexpr uint32_t FILE_TYPE_ROUTER = 2;
constexpr uint32_t FILE_TYPE_DASHBOARD = 3;

// File header: type word, reserved word, 84-byte zero-terminated version text.
constexpr size_t FILE_HEADER_SIZE = 92;
constexpr size_t FILE_VERSION_OFFSET = 8;
constexpr size_t FILE_VERSION_SIZE = 84;

// Part header, followed by the block checksum table, the data and 0..3 padding bytes.
constexpr size_t PART_HEADER_SIZE = 98;
constexpr size_t PART_CHECKSUM_OFFSET = 92;
constexpr size_t MIN_IMAGE_SIZE = FILE_HEADER_SIZE + PART_HEADER_SIZE; // 190

constexpr std::array<uint8_t, 4> PART_MAGIC_HDR0 = {0x48, 0x44, 0x52, 0x30}; // "HDR0"
constexpr std::array<uint8_t, 4> PART_MAGIC_WIRELESS = {0x55, 0xAA, 0x5A, 0xA5};

// One part header, parsed into fields.
struct PartHeader {
    std::array<uint8_t, 4> m_Magic{};
    uint32_t m_nHeaderSize = 0; // 98 + 2 x number of blocks
    uint32_t m_nReserved = 0;
    std::array<char, 8> m_UnlockCode{};
    uint32_t m_nTargetAddress = 0;
    uint32_t m_nDataLength = 0;
    std::array<char, 16> m_BuildDate{};
    std::array<char, 16> m_BuildTime{};
    std::array<char, 32> m_PartName{};
    uint16_t m_nChecksum = 0; // CRC-16 of the 98 bytes with these two taken as zero
    uint32_t m_nBlockSize = 0;

    // Reads the 98 bytes at `p`.
    static PartHeader Parse(const uint8_t* p);
    // Writes the 98 bytes to `p`, with m_nChecksum as stored.
    void Serialize(uint8_t* p) const;
    // CRC-16 of the serialised header with the checksum field taken as zero.
    uint16_t ComputeChecksum() const;
    // Number of blocks: ceiling(data length / block size); 0 when the block size is 0.
    uint32_t BlockCount() const;
};

// Where a part's data lie in the image bytes.
struct DataSpan {
    uint32_t m_nOffset = 0;
    uint32_t m_nLength = 0;
};
