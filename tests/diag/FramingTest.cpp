#include <gtest/gtest.h>

#include <random>

#include "diag/CHdlcFrameCollector.h"
#include "diag/HdlcFraming.h"
#include "tests/support/HdlcBytes.h"

using namespace kivtest;

namespace {

struct WorkedFrame {
    const char* payload;
    int leading;
    const char* frame;
};

const WorkedFrame kWorkedFrames[] = {
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
    for (const WorkedFrame& w : kWorkedFrames) {
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
    EXPECT_TRUE(Unframe(Hex("A1 6E 7E")).empty());          // 2 bytes: FCS alone
    EXPECT_TRUE(Unframe(Hex("3A A1 6F 7E")).empty());       // wrong FCS
    EXPECT_TRUE(Unframe(Hex("3A A1 6E 7D")).empty());       // escape with nothing after it
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

TEST(HdlcFraming, StuffAppendBuildsTheSameFrameInPieces)
{
    // The download step builds a block frame from a header and the data with one register.
    const Bytes header = Hex("0F 00 10 7E 00 00 03");
    const Bytes data = Hex("7D 7E 01");
    Bytes whole = header;
    whole.insert(whole.end(), data.begin(), data.end());

    Bytes out(64);
    uint32_t pos = 0;
    out[pos++] = 0x7E;
    uint16_t crc = 0xFFFF;
    HdlcStuffAppend(out.data(), pos, header.data(), uint32_t(header.size()), crc);
    HdlcStuffAppend(out.data(), pos, data.data(), uint32_t(data.size()), crc);
    const uint16_t fcs = uint16_t(crc ^ 0xFFFF);
    const uint8_t fcsBytes[2] = {uint8_t(fcs), uint8_t(fcs >> 8)};
    uint16_t unused = 0;
    HdlcStuffAppend(out.data(), pos, fcsBytes, 2, unused);
    out[pos++] = 0x7E;
    out.resize(pos);
    EXPECT_EQ(ToHex(out), ToHex(Frame(whole, 1)));
}

namespace {

// Feeds bytes to a collector and returns the good payloads in order, plus the bad count.
std::vector<Bytes> Collect(CHdlcFrameCollector& collector, const Bytes& stream, int* bad = nullptr)
{
    std::vector<Bytes> frames;
    for (uint8_t b : stream) {
        auto result = collector.Push(b);
        if (result == CHdlcFrameCollector::Result::Frame)
            frames.emplace_back(collector.Payload(), collector.Payload() + collector.PayloadLength());
        else if (result == CHdlcFrameCollector::Result::BadFrame && bad != nullptr)
            ++*bad;
    }
    return frames;
}

} // namespace

TEST(HdlcFrameCollector, FlagAfterOneOrTwoBytesDoesNotEndAFrame)
{
    // The two bytes before the flag belong to the frame: it still decodes.
    CHdlcFrameCollector collector;
    auto frames = Collect(collector, Hex("29 01 7E 00 31 40 7E"));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(ToHex(frames[0]), "29 01 00");

    // A stray byte before a flag prefixes the next frame, which then fails its FCS.
    CHdlcFrameCollector stray;
    int bad = 0;
    frames = Collect(stray, Hex("55 7E 3A A1 6E 7E"), &bad);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(bad, 1);
    // The collector starts clean after that.
    EXPECT_EQ(Collect(stray, Hex("3A A1 6E 7E")).size(), 1u);
}

TEST(HdlcFrameCollector, OverflowClearsTheCollection)
{
    CHdlcFrameCollector collector;
    Bytes stream(1024, 0x11);
    Collect(collector, stream);
    EXPECT_EQ(collector.Count(), 1024u);
    collector.Push(0x22); // the 1025th byte: collection cleared, byte dropped
    EXPECT_EQ(collector.Count(), 0u);
    auto frames = Collect(collector, Hex("3A A1 6E 7E"));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(ToHex(frames[0]), "3A");
}
