#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/HdlcBytes.h"
#include "wire/CHdlcFrameWriter.h"
#include "wire/HdlcFraming.h"

using namespace kivtest;

namespace {

struct WorkedFrame {
    const char* payload;
    int leading;
    const char* frame;
};

const WorkedFrame WORKED_FRAMES[] = {
    {"3A", 0, "3A A1 6E 7E"},
    {"0A", 1, "7E 0A 22 5F 7E"},
    {"26", 1, "7E 26 4C B4 7E"},
    {"4B C9 03 FF", 0, "4B C9 03 FF E8 99 7E"},
    {"29 01 00", 0, "29 01 00 31 40 7E"},
    {"7E 7D", 0, "7D 5E 7D 5D F1 CD 7E"}, // stuffed payload
    {"2A", 0, "2A 20 7D 5E 7E"},          // stuffed FCS
};

} // namespace

TEST(HdlcFraming, WorkedFramesBothWays)
{
    for (const WorkedFrame& w : WORKED_FRAMES) {
        SCOPED_TRACE(w.frame);
        EXPECT_EQ(ToHex(Frame(Hex(w.payload), w.leading)), w.frame);
        EXPECT_EQ(ToHex(Unframe(Hex(w.frame))), w.payload);
    }
}

TEST(HdlcFraming, DecodeWithAndWithoutEitherFlag)
{
    const Bytes body = Hex("4B C9 03 FF E8 99");
    const Bytes payload = Hex("4B C9 03 FF");
    Bytes both = body;
    both.insert(both.begin(), 0x7E);
    both.push_back(0x7E);
    Bytes leading(both.begin(), both.end() - 1);
    Bytes trailing(both.begin() + 1, both.end());
    for (const Bytes& frame : {body, both, leading, trailing})
        EXPECT_EQ(Unframe(frame), payload) << ToHex(frame);
}

TEST(HdlcFraming, InvalidFramesDecodeToZero)
{
    EXPECT_TRUE(Unframe(Hex("A1 6E 7E")).empty());    // 2 bytes: FCS alone
    EXPECT_TRUE(Unframe(Hex("3A A1 6F 7E")).empty()); // wrong FCS
    EXPECT_TRUE(Unframe(Hex("3A A1 6E 7D")).empty()); // escape with nothing after it
    EXPECT_TRUE(Unframe(Hex("7E")).empty());
    EXPECT_TRUE(Unframe(Hex("7E 7E")).empty());
    EXPECT_EQ(HdlcDecode(nullptr, 0, nullptr), 0u);
}

TEST(HdlcFraming, RandomRoundTripInPlace)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 500; ++round) {
        Bytes payload(1 + rng() % 300);
        for (auto& b : payload)
            b = (rng() % 4 == 0) ? uint8_t(0x7D + rng() % 2) : uint8_t(rng());
        Bytes frame = Frame(payload, int(round & 1));
        ASSERT_LE(frame.size(), HdlcMaxFrameLength(uint32_t(payload.size())));
        // No flag inside the body.
        for (size_t i = (round & 1); i + 1 < frame.size(); ++i)
            ASSERT_NE(frame[i], 0x7E);
        const uint32_t length = HdlcDecode(frame.data(), uint32_t(frame.size()), frame.data());
        ASSERT_EQ(length, payload.size());
        ASSERT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin()));
    }
}

TEST(HdlcFraming, WriterBuildsTheSameFrameInPieces)
{
    // The download step builds a block frame from a header and the data with one register.
    const Bytes header = Hex("0F 00 10 7E 00 00 03");
    const Bytes data = Hex("7D 7E 01");
    Bytes out(64);
    CHdlcFrameWriter writer(out);
    ASSERT_TRUE(writer.Begin(true));
    ASSERT_TRUE(writer.Append(header.data(), uint32_t(header.size())));
    ASSERT_TRUE(writer.Append(data.data(), uint32_t(data.size())));
    ASSERT_TRUE(writer.Finish());
    out.resize(writer.Length());
    // Flag, the ten bytes with 7E and 7D stuffed, FCS 86 23, flag.
    EXPECT_EQ(ToHex(out), "7E 0F 00 10 7D 5E 00 00 03 7D 5D 7D 5E 01 86 23 7E");
}

TEST(HdlcFraming, CorruptedFcsFlipsTheLowBitOfBothFcsBytes)
{
    // "3A" frames as 3A A1 6E; the corrupted frame carries A0 6F and must not decode.
    Bytes out(16);
    CHdlcFrameWriter writer(out);
    writer.Begin(false);
    writer.Append(Hex("3A").data(), 1);
    ASSERT_TRUE(writer.Finish(CHdlcFrameWriter::Fcs::Corrupted));
    out.resize(writer.Length());
    EXPECT_EQ(ToHex(out), "3A A0 6F 7E");
    EXPECT_TRUE(Unframe(out).empty());
}

TEST(HdlcFraming, TooSmallBufferFailsWithoutWritingPastItsEnd)
{
    // Every buffer short of the whole frame (two of its payload bytes stuffed) is refused.
    const Bytes payload = Hex("7E 7D 2A");
    const Bytes expected = Frame(payload, 1);
    for (size_t room = 0; room <= expected.size(); ++room) {
        SCOPED_TRACE(room);
        Bytes out(room + 4, 0xAA);
        const uint32_t length = HdlcEncode(payload.data(), uint32_t(payload.size()), {out.data(), room}, 1);
        EXPECT_TRUE(std::all_of(out.begin() + long(room), out.end(), [](uint8_t b) { return b == 0xAA; }));
        if (room < expected.size()) {
            EXPECT_EQ(length, 0u);
        } else {
            ASSERT_EQ(length, expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
        }
    }

    // A failed append leaves position and register as they were, and the frame stays failed.
    Bytes small(3);
    uint32_t pos = 1;
    uint16_t crc = 0x1234;
    EXPECT_FALSE(HdlcStuffAppend(small, pos, payload.data(), 2, crc)); // needs 4 bytes
    EXPECT_EQ(pos, 1u);
    EXPECT_EQ(crc, 0x1234);
    EXPECT_TRUE(HdlcStuffAppend(small, pos, payload.data() + 2, 1, crc));
    EXPECT_EQ(pos, 2u);

    CHdlcFrameWriter writer(small);
    writer.Begin(true);
    EXPECT_FALSE(writer.Append(payload.data(), 2));
    EXPECT_FALSE(writer.Append(payload.data() + 2, 1)); // would fit, but the frame is lost
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(writer.Length(), 0u);
    // Appending before Begin or after Finish is a misuse, not a frame.
    CHdlcFrameWriter unbegun(small);
    EXPECT_FALSE(unbegun.Append(payload.data() + 2, 1));
    EXPECT_FALSE(unbegun.Finish());
}
