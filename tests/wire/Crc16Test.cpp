#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "wire/Crc16.h"

TEST(Crc16, CheckValueAndResidue)
{
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16Compute(digits, sizeof digits), 0x906E);

    uint16_t reg = CRC16_INIT;
    for (uint8_t b : digits)
        reg = Crc16Update(reg, b);
    uint16_t fcs = static_cast<uint16_t>(~reg);
    reg = Crc16Update(reg, static_cast<uint8_t>(fcs & 0xFF));
    reg = Crc16Update(reg, static_cast<uint8_t>(fcs >> 8));
    EXPECT_EQ(reg, CRC16_RESIDUE);
}

TEST(Crc16, TableStepMatchesKnownEntries)
{
    // From a zero register one step returns the table entry of the byte.
    EXPECT_EQ(Crc16Update(0, 0), 0x0000);
    EXPECT_EQ(Crc16Update(0, 1), 0x1189);
    EXPECT_EQ(Crc16Update(0, 2), 0x2312);
}

TEST(Crc16, BulkEqualsBytewiseForEveryLengthAndAlignment)
{
    std::mt19937 random(7);
    std::vector<uint8_t> data(300);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(random());
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t length = 0; offset + length <= 80; ++length)
            for (uint16_t start : {uint16_t(0xFFFF), uint16_t(0x1234)})
                ASSERT_EQ(Crc16Bulk(start, data.data() + offset, length),
                          Crc16Bytewise(start, data.data() + offset, length))
                    << "offset " << offset << " length " << length;
    EXPECT_EQ(Crc16Bulk(0xFFFF, data.data(), data.size()), Crc16Bytewise(0xFFFF, data.data(), data.size()));
}
