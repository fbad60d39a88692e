// The collector that cuts the TCP channel's byte stream into frames.
#include <gtest/gtest.h>

#include "diag/CHdlcFrameCollector.h"
#include "tests/support/HdlcBytes.h"

using namespace kivtest;

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
