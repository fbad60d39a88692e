// The stream parsers on their own, without sockets: framing edge cases and bad input.

#include <gtest/gtest.h>

#include <cstring>

#include "diag/HdlcFraming.h"
#include "images/CSampleImage.h"
#include "sim/CDownloadTracker.h"
#include "sim/CSimContext.h"
#include "sim/CTcpSession.h"
#include "sim/CTelnetSession.h"
#include "tests/support/HdlcBytes.h"

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
    std::vector<uint8_t> flood(CTcpSession::kMaxFrameBody + 100, 0x55);
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
    const uint8_t input[] = {'a', 0xFF, 0xFD, 0x01, 'd', 0xFF, 0xFA, 0x18, 0x00, 'x', 0xFF, 0xF0,
                             'm', 'i', 'n', '\r', 0x00};
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

} // namespace
