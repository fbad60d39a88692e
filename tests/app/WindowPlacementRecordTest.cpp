// The 44-byte window-placement record of the settings store, against bytes written out by
// hand, and the rules that decide what is stored and what is restored.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/WindowPlacementRecord.h"

namespace {

// A maximised window whose normal rectangle is (-8, 20)-(1032, 788), little-endian fields.
const std::vector<uint8_t> GOLDEN_RECORD = {
    0x2C, 0x00, 0x00, 0x00, // length 44
    0x02, 0x00, 0x00, 0x00, // flags
    0x03, 0x00, 0x00, 0x00, // show command: maximised
    0xFF, 0xFF, 0xFF, 0xFF, // minimised position x: -1
    0xFF, 0xFF, 0xFF, 0xFF, //                    y: -1
    0xF8, 0xFF, 0xFF, 0xFF, // maximised position x: -8
    0xF8, 0xFF, 0xFF, 0xFF, //                    y: -8
    0xF8, 0xFF, 0xFF, 0xFF, // normal left -8
    0x14, 0x00, 0x00, 0x00, //        top 20
    0x08, 0x04, 0x00, 0x00, //        right 1032
    0x14, 0x03, 0x00, 0x00, //        bottom 788
};

} // namespace

TEST(WindowPlacementRecord, ReadsAndWritesTheSettingsStoreLayout)
{
    WindowPlacementRecord record;
    ASSERT_TRUE(WindowPlacementRecord::Decode(GOLDEN_RECORD.data(), GOLDEN_RECORD.size(), record));
    EXPECT_EQ(record.length, 44u);
    EXPECT_EQ(record.flags, 2u);
    EXPECT_EQ(record.showCmd, 3u);
    EXPECT_EQ(record.minX, -1);
    EXPECT_EQ(record.maxY, -8);
    EXPECT_EQ(record.left, -8);
    EXPECT_EQ(record.top, 20);
    EXPECT_EQ(record.right, 1032);
    EXPECT_EQ(record.bottom, 788);
    const auto encoded = record.Encode();
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.end()), GOLDEN_RECORD);
}

TEST(WindowPlacementRecord, ValuesOfAnotherSizeAreNotRead)
{
    for (size_t size : {0u, 40u, 43u, 45u, 48u}) {
        std::vector<uint8_t> bytes(GOLDEN_RECORD);
        bytes.resize(size, 0);
        WindowPlacementRecord record;
        record.left = 7;
        EXPECT_FALSE(WindowPlacementRecord::Decode(bytes.data(), bytes.size(), record)) << size;
        EXPECT_EQ(record.left, 7) << size;
    }
    WindowPlacementRecord record;
    EXPECT_FALSE(WindowPlacementRecord::Decode(nullptr, 44, record));
}

TEST(WindowPlacementRecord, OnlyAMaximisedWindowIsStoredOtherThanNormal)
{
    // Show commands: hidden 0, normal 1, minimised 2, maximised 3, minimised-inactive 7 ...
    const struct {
        uint32_t state;
        uint32_t stored;
    } cases[] = {{0, 1}, {1, 1}, {2, 1}, {3, 3}, {6, 1}, {7, 1}, {9, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(WindowPlacementRecord::StoredShowCommand(c.state), c.stored) << c.state;
}

TEST(WindowPlacementRecord, RestoredOnlyWhereTheNormalRectangleFits)
{
    // A work area of 1280 x 984 at the origin.
    const struct {
        int32_t left, top, right, bottom;
        bool fits;
    } cases[] = {
        {100, 100, 740, 400, true},    // inside
        {0, 0, 1280, 984, true},       // exactly the area
        {-1, 100, 639, 400, false},    // one pixel off at the left
        {700, 500, 1281, 800, false},  // one pixel off at the right
        {100, 900, 740, 985, false},   // off at the bottom
        {3000, 100, 3640, 400, false}, // on a screen that is gone
        {100, 100, 100, 400, false},   // no width
        {100, 400, 740, 100, false},   // upside down
        {INT32_MIN, 0, INT32_MAX, 10, false},
    };
    for (const auto& c : cases) {
        WindowPlacementRecord record;
        record.left = c.left;
        record.top = c.top;
        record.right = c.right;
        record.bottom = c.bottom;
        EXPECT_EQ(record.NormalRectFits(0, 0, 1280, 984), c.fits)
            << c.left << "," << c.top << " " << c.right << "," << c.bottom;
    }
}
