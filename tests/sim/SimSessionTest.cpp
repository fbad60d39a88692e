// The stream parsers on their own, without sockets: framing edge cases and bad input.

#include <gtest/gtest.h>

#include <cstring>

#include "images/CSampleImage.h"
#include "platform/Clock.h"
#include "sim/CBlockMemory.h"
#include "sim/CDownloadTracker.h"
#include "sim/CFaultTable.h"
#include "sim/CSimContext.h"
#include "sim/CTcpSession.h"
#include "sim/CTelnetSession.h"
#include "tests/support/HdlcBytes.h"
#include "wire/HdlcFraming.h"

using namespace kivtest;

namespace {

std::vector<uint8_t> HandShakeRequest()
{
    std::vector<uint8_t> request(133, 0);
    const uint8_t head[7] = {0x26, 0x00, 0x00, 0x25, 0xA7, 0x00, 0x06};
    std::memcpy(request.data(), head, sizeof head);
    return request;
}

class SimSessionTest : public ::testing::Test {
protected:
    CSimConfig m_Config;
};

TEST_F(SimSessionTest, FramesSplitAnyWayGetTheSameAnswer)
{
    m_Config.offline = true;
    CSimContext context(m_Config);
    CTcpSession whole(context, 1);
    CTcpSession bytewise(context, 2);
    const std::vector<uint8_t> frame = Frame(HandShakeRequest(), 0);
    whole.OnBytes(frame.data(), frame.size());
    for (uint8_t byte : frame)
        bytewise.OnBytes(&byte, 1);
    EXPECT_EQ(whole.Output(), bytewise.Output());
    const auto answers = Payloads(whole.Output());
    ASSERT_EQ(1u, answers.size());
    ASSERT_EQ(133u, answers[0].size());
    EXPECT_EQ(0, answers[0][14]); // not in the downloader
    EXPECT_EQ(1, answers[0][15]); // offline
    EXPECT_EQ(0u, context.Transcript().ViolationCount());
}

TEST_F(SimSessionTest, BadFramesAreCountedAndTheStreamRecovers)
{
    CSimContext context(m_Config);
    CTcpSession session(context, 1);
    std::vector<uint8_t> bad = Frame({0x4B, 0xC9, 0x03, 0xFF}, 1);
    bad[2] ^= 0x01; // FCS no longer matches
    session.OnBytes(bad.data(), bad.size());
    const uint8_t tiny[] = {0x7E, 0x01, 0x02, 0x7E};
    session.OnBytes(tiny, sizeof tiny);
    std::vector<uint8_t> flood(CTcpSession::MAX_FRAME_BODY + 100, 0x55);
    session.OnBytes(flood.data(), flood.size());
    EXPECT_EQ(3u, context.Transcript().ViolationCount());
    EXPECT_TRUE(session.Output().empty());

    const std::vector<uint8_t> good = Frame({0x4B, 0xC9, 0x03, 0xFF}, 1);
    session.OnBytes(good.data(), good.size()); // its leading flag ends the flood
    const auto answers = Payloads(session.Output());
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ(66u, answers[0].size());
}

TEST_F(SimSessionTest, UnknownCommandsGetAnErrorAnswerEchoingTheRequest)
{
    CSimContext context(m_Config);
    CTcpSession session(context, 1);
    const std::vector<uint8_t> frame = Frame({0x4B, 0x77, 0x01, 0x02}, 1);
    session.OnBytes(frame.data(), frame.size());
    const auto answers = Payloads(session.Output());
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ((std::vector<uint8_t>{0x13, 0x4B, 0x77, 0x01, 0x02}), answers[0]);
}

TEST_F(SimSessionTest, TelnetStripsOptionsAndCapsLines)
{
    CSimContext context(m_Config);
    CTelnetSession session(context, 1);
    session.OnConnect();
    const std::string greeting(session.Output().begin(), session.Output().end());
    EXPECT_EQ(0xFF, static_cast<uint8_t>(greeting[0]));
    EXPECT_NE(std::string::npos, greeting.find("login: "));
    session.Output().clear();

    // Option requests and sub-negotiation between the characters of the user name; CR NUL
    // ends the line like CR LF.
    const uint8_t input[] = {'a', 0xFF, 0xFD, 0x01, 'd', 0xFF, 0xFA, 0x18, 0x00,
                             'x', 0xFF, 0xF0, 'm',  'i', 'n',  '\r', 0x00};
    session.OnBytes(input, sizeof input);
    std::string reply(session.Output().begin(), session.Output().end());
    EXPECT_EQ("admin\r\nPassword: ", reply);
    session.Output().clear();

    const std::string password = "tovex\r\n";
    session.OnBytes(reinterpret_cast<const uint8_t*>(password.data()), password.size());
    const std::string longLine(5000, 'x');
    session.OnBytes(reinterpret_cast<const uint8_t*>(longLine.data()), longLine.size());
    session.OnBytes(reinterpret_cast<const uint8_t*>("\r\n"), 2);
    EXPECT_EQ(1u, context.Transcript().ViolationCount());
    reply.assign(session.Output().begin(), session.Output().end());
    EXPECT_NE(std::string::npos, reply.find("not found"));
    EXPECT_LT(reply.size(), 1000u);
}

TEST(DownloadTrackerTest, CompleteOnlyWithMarkerAndWithoutHoles)
{
    const std::vector<uint8_t> head = SampleImage::MakeWirelessData("1.2.3.4", std::vector<uint8_t>(4096 - 72, 1));
    const std::vector<uint8_t> body(4096, 2);
    CDownloadTracker tracker;
    tracker.OnBlock(0x1000, head.data(), 4096);
    tracker.OnBlockLost(0x2000);
    tracker.OnBlock(0x2000, body.data(), 4096); // the refused block again
    tracker.OnBlock(0x2000, body.data(), 4096); // and once more after a lost acknowledgement
    tracker.OnBlock(0x900000, body.data(), 10);
    EXPECT_TRUE(tracker.IsComplete());
    EXPECT_EQ("1.2.3.4", tracker.Version());
    EXPECT_EQ(2u, tracker.Units());
    EXPECT_EQ(8202u, tracker.Bytes());
    EXPECT_TRUE(tracker.LooksLikeDashboard());

    tracker.OnBlockLost(0x90000A);
    EXPECT_FALSE(tracker.IsComplete()); // the last block never went in
    tracker.OnBlock(0xA00000, body.data(), 10);
    EXPECT_FALSE(tracker.IsComplete()); // it was skipped, not retried

    tracker.Reset();
    tracker.OnBlock(0x1000, body.data(), 4096);
    EXPECT_FALSE(tracker.IsComplete()); // no version marker
}

TEST_F(SimSessionTest, DelayedFramesKeepTheirOrder)
{
    CSimContext context(m_Config);
    CTcpSession session(context, 1);
    const uint8_t first[] = {0x02}, second[] = {0x03, 0x00, 0x06};
    session.SendFrame(first, sizeof first, 300);
    session.SendFrame(second, sizeof second); // no delay of its own, yet not before the first
    EXPECT_TRUE(session.Output().empty());
    const uint32_t now = GetTickCount();
    EXPECT_GE(session.MsUntilNextEvent(now), 200);
    session.Tick(now + 100);
    EXPECT_TRUE(session.Output().empty());
    session.Tick(now + 1000);
    const auto payloads = Payloads(session.Output());
    ASSERT_EQ(2u, payloads.size());
    EXPECT_EQ(Bytes(first, first + 1), payloads[0]);
    EXPECT_EQ(Bytes(second, second + 3), payloads[1]);
    EXPECT_EQ(-1, session.MsUntilNextEvent(now));
}

TEST(BlockMemoryTest, ExtentsFollowWhatWasWrittenWhere)
{
    const std::vector<uint8_t> a(4096, 0xA1), b(100, 0xB2), c(10, 0xC3);
    CBlockMemory memory;
    memory.Write(0x2000, b.data(), b.size()); // written out of order
    memory.Write(0x1000, a.data(), a.size());
    memory.Write(0x9000, c.data(), c.size());
    memory.Write(0x1000, a.data(), a.size()); // the same block again
    std::vector<uint8_t> joined(a);
    joined.insert(joined.end(), b.begin(), b.end());
    const std::vector<CBlockMemory::Extent> expected = {{0x1000, joined.size(),
                                                         CBlockMemory::Digest(joined.data(), joined.size())},
                                                        {0x9000, c.size(), CBlockMemory::Digest(c.data(), c.size())}};
    EXPECT_EQ(expected, memory.Extents());

    // Other bytes at the same address replace the block: the digest tells them apart.
    memory.Write(0x9000, b.data(), c.size());
    EXPECT_NE(expected, memory.Extents());

    // A block that overlaps another without starting where it starts cannot be followed.
    memory.Write(0x1800, c.data(), c.size());
    EXPECT_FALSE(memory.IsVerifiable());
    EXPECT_TRUE(memory.Extents().empty());
    memory.Clear();
    EXPECT_TRUE(memory.IsVerifiable());
    EXPECT_EQ("cbf29ce484222325", CBlockMemory::Digest(nullptr, 0)); // FNV-1a 64 of nothing
    EXPECT_EQ("af63dc4c8601ec8c", CBlockMemory::Digest(reinterpret_cast<const uint8_t*>("a"), 1));
}

TEST(BlockMemoryTest, KeepsNoMoreThanItsLimit)
{
    const std::vector<uint8_t> block(1024 * 1024, 0x11);
    CBlockMemory memory;
    for (uint32_t i = 0; i < CBlockMemory::MAX_KEPT_BYTES / block.size(); ++i)
        memory.Write(i * 0x100000, block.data(), block.size());
    EXPECT_TRUE(memory.IsVerifiable());
    EXPECT_EQ(CBlockMemory::MAX_KEPT_BYTES, memory.KeptBytes());
    memory.Write(0x7F000000, block.data(), 1);
    EXPECT_FALSE(memory.IsVerifiable());
    EXPECT_EQ(0u, memory.KeptBytes());
}

TEST(SimConfigTest, SeedAndLatency)
{
    CSimConfig config;
    std::string output;
    const char* argv[] = {"kivrouter-sim", "--seed", "77", "--latency", "20-150"};
    EXPECT_EQ(-1, config.Parse(5, argv, output)) << output;
    EXPECT_EQ(77u, config.seed);
    EXPECT_EQ(20u, config.latencyMinMs);
    EXPECT_EQ(150u, config.latencyMaxMs);
    uint32_t low = 0, high = 0;
    EXPECT_TRUE(CSimConfig::ParseLatency("40", low, high));
    EXPECT_EQ(40u, low);
    EXPECT_EQ(40u, high);
    for (const char* bad : {"", "-5", "9-3", "1-2x", "a-b", "5-", "1-700000"})
        EXPECT_FALSE(CSimConfig::ParseLatency(bad, low, high)) << bad;
    CSimConfig other;
    const char* wrong[] = {"kivrouter-sim", "--latency", "9-3"};
    EXPECT_EQ(2, other.Parse(3, wrong, output));
}

TEST(SimConfigTest, LatencyDrawsRepeatWithTheSeed)
{
    auto draws = [](uint64_t seed) {
        CSimConfig config;
        config.seed = seed;
        config.latencyMinMs = 10;
        config.latencyMaxMs = 90;
        CSimContext context(config);
        std::vector<uint32_t> values;
        for (int i = 0; i < 50; ++i)
            values.push_back(context.DrawLatency());
        return values;
    };
    const std::vector<uint32_t> first = draws(5);
    EXPECT_EQ(first, draws(5));
    EXPECT_NE(first, draws(6));
    for (uint32_t v : first) {
        EXPECT_GE(v, 10u);
        EXPECT_LE(v, 90u);
    }
    CSimConfig none;
    CSimContext context(none);
    EXPECT_EQ(0u, context.DrawLatency());
}

TEST(FaultTableTest, EachNameSwitchesOnItsOwnFaultAndMisspellingsAreRefused)
{
    for (const CFaultTable::Info& info : CFaultTable::Known()) {
        CFaultTable table;
        std::string error;
        ASSERT_TRUE(table.Add(info.name, error)) << info.name << ": " << error;
        for (const CFaultTable::Info& other : CFaultTable::Known())
            EXPECT_EQ(other.fault == info.fault, table.Has(other.fault)) << info.name << " vs " << other.name;
    }
    CFaultTable table;
    std::string error;
    for (const char* wrong : {"late_ack", "lateack", "Late-Ack", "late-ack ", "", "=1"}) {
        EXPECT_FALSE(table.Add(wrong, error)) << wrong;
        EXPECT_NE(std::string::npos, error.find("unknown fault")) << error;
    }
    for (const CFaultTable::Info& info : CFaultTable::Known())
        EXPECT_FALSE(table.Has(info.fault)) << info.name;
}

TEST(FaultTableTest, ValuesDefaultAndAreChecked)
{
    CFaultTable table;
    std::string error;
    EXPECT_EQ(0u, table.Number(Fault::UnlockRefused));
    EXPECT_FALSE(table.HitsNumber(Fault::LateAck, 0));
    ASSERT_TRUE(table.Add("unlock-refused", error)) << error;
    EXPECT_EQ(5u, table.Number(Fault::UnlockRefused));
    ASSERT_TRUE(table.Add("late-ack=0x10", error)) << error;
    EXPECT_TRUE(table.HitsNumber(Fault::LateAck, 16));
    EXPECT_FALSE(table.HitsNumber(Fault::LateAck, 1));
    ASSERT_TRUE(table.Add("no-answer=reset,unlock", error)) << error;
    EXPECT_TRUE(table.ListHas(Fault::NoAnswer, "unlock"));
    EXPECT_FALSE(table.ListHas(Fault::NoAnswer, "hand-shake"));
    for (const char* bad : {"late-ack=x", "late-ack=4294967296", "no-result=1", "telnet-wrong-prompt=bash",
                            "discovery-size=65", "discovery-flood=0", "discovery-names=host", "no-answer=resett"}) {
        EXPECT_FALSE(table.Add(bad, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(table.Has(Fault::NoResult));
    EXPECT_TRUE(table.HitsNumber(Fault::LateAck, 16));
}

} // namespace
