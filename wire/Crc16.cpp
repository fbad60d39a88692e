#include "wire/Crc16.h"

#include <array>

namespace {

using Table = std::array<uint16_t, 256>;

constexpr Table MakeBaseTable()
{
    Table table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

// Slice k gives the effect of a byte followed by k zero bytes, so eight bytes can be
// folded in with eight independent lookups.
constexpr std::array<Table, 8> MakeSlices()
{
    std::array<Table, 8> slices{};
    slices[0] = MakeBaseTable();
    for (size_t k = 1; k < 8; ++k)
        for (size_t i = 0; i < 256; ++i) {
            uint16_t prev = slices[k - 1][i];
            slices[k][i] = static_cast<uint16_t>((prev >> 8) ^ slices[0][prev & 0xFF]);
        }
    return slices;
}

constexpr std::array<Table, 8> SLICES = MakeSlices();
constexpr const Table& TABLE = SLICES[0];

static_assert(TABLE[1] == 0x1189 && TABLE[2] == 0x2312, "CRC-16/X.25 table");

} // namespace

uint16_t Crc16Update(uint16_t crc, uint8_t byte)
{
    return static_cast<uint16_t>((crc >> 8) ^ TABLE[(crc ^ byte) & 0xFF]);
}

uint16_t Crc16Bytewise(uint16_t crc, const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        crc = Crc16Update(crc, data[i]);
    return crc;
}

uint16_t Crc16Bulk(uint16_t crc, const uint8_t* data, size_t size)
{
    uint32_t reg = crc;
    while (size >= 8) {
        uint32_t low = (reg ^ data[0]) & 0xFF;
        uint32_t high = ((reg >> 8) ^ data[1]) & 0xFF;
        reg = SLICES[7][low] ^ SLICES[6][high] ^ SLICES[5][data[2]] ^ SLICES[4][data[3]] ^ SLICES[3][data[4]] ^
              SLICES[2][data[5]] ^ SLICES[1][data[6]] ^ SLICES[0][data[7]];
        data += 8;
        size -= 8;
    }
    return Crc16Bytewise(static_cast<uint16_t>(reg), data, size);
}

uint16_t Crc16Compute(const uint8_t* data, size_t size)
{
    return static_cast<uint16_t>(~Crc16Bulk(CRC16_INIT, data, size));
}
