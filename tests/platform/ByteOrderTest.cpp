#include <gtest/gtest.h>

#include <array>

#include "platform/ByteOrder.h"

// Every load and store against bytes written out by hand, at an odd address and with the
// high bit set in every byte (a sign extension or a swapped order shows).
TEST(ByteOrder, LoadsAndStoresAgainstLiteralBytes)
{
    const std::array<uint8_t, 5> bytes = {0x00, 0x81, 0x92, 0xA3, 0xF4};
    const uint8_t* at = bytes.data() + 1;
    EXPECT_EQ(ReadLe16(at), 0x9281);
    EXPECT_EQ(ReadBe16(at), 0x8192);
    EXPECT_EQ(ReadLe32(at), 0xF4A39281u);
    EXPECT_EQ(ReadBe32(at), 0x8192A3F4u);

    std::array<uint8_t, 6> out{};
    WriteLe16(out.data() + 1, 0x9281);
    EXPECT_EQ(out, (std::array<uint8_t, 6>{0x00, 0x81, 0x92, 0x00, 0x00, 0x00}));
    out.fill(0);
    WriteBe16(out.data() + 1, 0x8192);
    EXPECT_EQ(out, (std::array<uint8_t, 6>{0x00, 0x81, 0x92, 0x00, 0x00, 0x00}));
    out.fill(0);
    WriteLe32(out.data() + 1, 0xF4A39281u);
    EXPECT_EQ(out, (std::array<uint8_t, 6>{0x00, 0x81, 0x92, 0xA3, 0xF4, 0x00}));
    out.fill(0);
    WriteBe32(out.data() + 1, 0x8192A3F4u);
    EXPECT_EQ(out, (std::array<uint8_t, 6>{0x00, 0x81, 0x92, 0xA3, 0xF4, 0x00}));

    // Usable in constant expressions (the resources build their bytes at compile time).
    constexpr uint8_t WORD[4] = {0x78, 0x56, 0x34, 0x12};
    static_assert(ReadLe32(WORD) == 0x12345678u && ReadBe32(WORD) == 0x78563412u);
}
