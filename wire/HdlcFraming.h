#pragma once

#include <cstdint>
#include <span>

// HDLC-like framing of the diagnostic channel: payload, 16-bit FCS (CRC-16/X.25, low byte
// first), byte stuffing of 0x7E and 0x7D (sent as 0x7D, byte ^ 0x20) and a trailing flag
// 0x7E, optionally preceded by a leading flag.

constexpr uint8_t HDLC_FLAG = 0x7E;
constexpr uint8_t HDLC_ESCAPE = 0x7D;
constexpr uint8_t HDLC_ESCAPE_XOR = 0x20;
constexpr uint16_t HDLC_CRC_INIT = 0xFFFF;
// Register value after running the CRC over a payload followed by its own FCS.
constexpr uint16_t HDLC_CRC_RESIDUE = 0xF0B8;

// Largest frame for a payload of `length` bytes: leading flag, every payload and FCS byte
// stuffed, trailing flag.
constexpr uint32_t HdlcMaxFrameLength(uint32_t length) { return 2 * length + 6; }

// Appends `count` bytes at out[pos] with stuffing, advances `pos` and feeds every unstuffed
// byte into the running CRC register `crc`. Returns false, with nothing written and `pos`
// and `crc` unchanged, when the stuffed bytes would not fit in `out`.
bool HdlcStuffAppend(std::span<uint8_t> out, uint32_t& pos, const uint8_t* bytes, uint32_t count, uint16_t& crc);

// Builds the complete frame for `payload` into `out` and returns its length, or 0 when the
// frame does not fit (HdlcMaxFrameLength(length) bytes always do). A non-zero
// `leadingFlag` puts a 0x7E in front. Frames are built by CHdlcFrameWriter.
uint32_t HdlcEncode(const uint8_t* payload, uint32_t length, std::span<uint8_t> out, int leadingFlag);

// Takes a frame apart: an optional leading and an optional trailing 0x7E are skipped, the
// body is unstuffed into `out` and checked. Returns the payload length (without the FCS), or
// 0 when the frame is not valid (bad FCS, fewer than 3 unstuffed bytes, dangling 0x7D).
// `in` and `out` may be the same buffer; `out` needs room for `length` bytes.
uint32_t HdlcDecode(const uint8_t* in, uint32_t length, uint8_t* out);
