#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/X.25: reflected generator 0x8408, initial register 0xFFFF, result complemented,
// stored least significant byte first. It checks the blocks of image files and the HDLC
// frame check sequence.

constexpr uint16_t CRC16_INIT = 0xFFFF;
// Register left after running the CRC over data followed by its stored (complemented) CRC.
constexpr uint16_t CRC16_RESIDUE = 0xF0B8;

// One step of the byte-wise table routine: (crc >> 8) ^ table[(crc ^ byte) & 0xFF].
uint16_t Crc16Update(uint16_t crc, uint8_t byte);

// Feeds `size` bytes into the register `crc` (no initial value, no complement): the same
// result as calling Crc16Update for every byte, eight bytes at a time.
uint16_t Crc16Bulk(uint16_t crc, const uint8_t* data, size_t size);

// The byte-wise reference for Crc16Bulk (one Crc16Update per byte).
uint16_t Crc16Bytewise(uint16_t crc, const uint8_t* data, size_t size);

// The finished check value: register from CRC16_INIT over the data, then complemented.
uint16_t Crc16Compute(const uint8_t* data, size_t size);
