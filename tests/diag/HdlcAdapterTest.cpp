#include <gtest/gtest.h>

#include "diag/CHdlcAdapter.h"
#include "platform/Clock.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/TcpPeer.h"
#include "tests/support/UdpPeer.h"
#include "tests/support/Wait.h"

using namespace kivtest;

namespace {

class HdlcAdapterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Adapter.Open("127.0.0.1", m_Peer.Port(), INetPort::PORT_TYPE_TCP));
        ASSERT_TRUE(m_Peer.WaitConnected());
    }

    // Waits until the queue holds `count` payloads.
    bool WaitStored(int count)
    {
        return WaitFor([&] { return m_Adapter.Responses().GetCount() >= count; });
    }

    // A frame that is expected gets a second of real time at the test command's scale of
    // 0.05 (Wine, on a loaded machine, can take longer than 150 ms to deliver one).
    std::string ReadHex(uint32_t timeoutMs = 20000)
    {
        uint8_t buffer[512];
        uint32_t length = 0;
        if (!m_Adapter.Read(buffer, sizeof(buffer), &length, 0, timeoutMs))
            return "none";
        return ToHex(Bytes(buffer, buffer + length));
    }

    TcpPeer m_Peer;
    CHdlcAdapter m_Adapter;
};

} // namespace

TEST_F(HdlcAdapterTest, FramedAndRawWrites)
{
    const Bytes payload = Hex("0A");
    ASSERT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::FlaggedFrame, payload.data(), 1, 3000));
    const Bytes raw = Hex("01 7E 7D 02");
    ASSERT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, raw.data(), uint32_t(raw.size()), 3000));
    ASSERT_TRUE(m_Peer.WaitRawBytes(9));
    EXPECT_EQ(ToHex(m_Peer.Received()), "7E 0A 22 5F 7E 01 7E 7D 02");
    EXPECT_EQ(m_Adapter.GetWriteLength(), 5u);

    // A payload whose frame could not fit the write buffer is refused, not overrun.
    Bytes huge(CHdlcAdapter::MAX_FRAMED_PAYLOAD + 1, 0x7E);
    EXPECT_FALSE(m_Adapter.Write(CHdlcAdapter::WriteAs::FlaggedFrame, huge.data(), uint32_t(huge.size()), 3000));
    Bytes largest(CHdlcAdapter::MAX_FRAMED_PAYLOAD, 0x7E);
    EXPECT_TRUE(m_Adapter.Write(CHdlcAdapter::WriteAs::FlaggedFrame, largest.data(), uint32_t(largest.size()), 3000));
    EXPECT_LE(m_Adapter.GetWriteLength(), CHdlcAdapter::WRITE_BUFFER_SIZE);
}

TEST_F(HdlcAdapterTest, ClosedAdapterRefusesWithoutTouchingThePort)
{
    ASSERT_TRUE(m_Adapter.Close());
    EXPECT_FALSE(m_Adapter.IsOpen());
    uint8_t b = 0x3A;
    uint32_t length = 0;
    EXPECT_FALSE(m_Adapter.Write(CHdlcAdapter::WriteAs::Frame, &b, 1, 100));
    EXPECT_FALSE(m_Adapter.Read(&b, 1, &length, 0, 100));
    EXPECT_FALSE(m_Adapter.GetLastPortError());
    EXPECT_TRUE(m_Adapter.Close());
}

TEST_F(HdlcAdapterTest, DirectReadReturnsTheFirstGoodFrame)
{
    // Not the awaited answer, but without the reader no matching takes place.
    m_Adapter.Responses().SetMatchPattern(Hex("4B").data(), 1);
    m_Peer.Send(Frame(Hex("29 01 00"), 1));
    m_Peer.Send(Frame(Hex("4B C9 03 FF")));
    EXPECT_EQ(ReadHex(), "29 01 00");
    EXPECT_EQ(ReadHex(), "4B C9 03 FF");

    // A frame with a bad FCS makes the direct read fail at once.
    m_Peer.Send(Hex("3A A1 6F 7E"));
    EXPECT_EQ(ReadHex(), "none");
    // Nothing at all: time-out.
    const uint32_t start = GetTickCount();
    EXPECT_EQ(ReadHex(600), "none");
    EXPECT_GE(TicksSince(start), 600u);
}

TEST_F(HdlcAdapterTest, ReaderSplitsTheStreamAtEveryByteBoundary)
{
    ASSERT_TRUE(m_Adapter.StartReader());
    // Two frames back to back, the second without a leading flag.
    const Bytes stream = Hex("7E 4B C9 03 FF E8 99 7E 29 01 00 31 40 7E");
    for (size_t split = 1; split < stream.size(); ++split) {
        SCOPED_TRACE(split);
        m_Adapter.Responses().SetMatchPattern(Hex("4B C9 03 FF").data(), 4);
        m_Peer.Send(Bytes(stream.begin(), stream.begin() + long(split)));
        m_Peer.Send(Bytes(stream.begin() + long(split), stream.end()));
        ASSERT_TRUE(WaitStored(2));
        // The older frame is the one that matches: both were delivered.
        ASSERT_EQ(ReadHex(), "4B C9 03 FF");
        EXPECT_EQ(m_Adapter.Responses().GetCount(), 0);
    }
    EXPECT_TRUE(m_Adapter.StopReader());
}

TEST_F(HdlcAdapterTest, ReaderReturnsOnlyMatchingFramesAndDropsBadOnes)
{
    ASSERT_TRUE(m_Adapter.StartReader());
    m_Adapter.Responses().SetMatchPattern(Hex("3A").data(), 1);
    m_Peer.Send(Hex("3A A1 6F 7E"));     // bad FCS: dropped
    m_Peer.Send(Frame(Hex("29 01 00"))); // good, not matching
    EXPECT_EQ(ReadHex(300), "none");
    m_Peer.Send(Bytes(1025, 0x11)); // the 1025th byte without a flag clears the collection
    m_Peer.Send(Frame(Hex("3A")));
    EXPECT_EQ(ReadHex(), "3A");
}

TEST_F(HdlcAdapterTest, StopReaderEndsThePendingReadPromptly)
{
    ASSERT_TRUE(m_Adapter.StartReader());
    EXPECT_TRUE(m_Adapter.IsReaderRunning());
    const uint32_t start = GetTickCount();
    EXPECT_TRUE(m_Adapter.StopReader());
    EXPECT_LT(TicksSince(start), 10000u); // before its 10 s limit for a reader that ignores the purge
    EXPECT_FALSE(m_Adapter.IsReaderRunning());
    EXPECT_TRUE(m_Adapter.StopReader());

    // Back to direct reading, then the reader again.
    m_Peer.Send(Frame(Hex("26")));
    EXPECT_EQ(ReadHex(), "26");
    ASSERT_TRUE(m_Adapter.StartReader());
    EXPECT_TRUE(m_Adapter.Close());
    EXPECT_FALSE(m_Adapter.IsReaderRunning());
}

TEST(HdlcAdapterUdp, ReaderOnAPortWithoutPurgeStopsPromptly)
{
    UdpPeer peer;
    peer.SetResponder([](const Bytes&) { return std::vector<Bytes>{Frame(Hex("3A"))}; });
    CHdlcAdapter adapter;
    ASSERT_TRUE(adapter.Open("127.0.0.1", peer.Port(), INetPort::PORT_TYPE_UDP));
    ASSERT_TRUE(adapter.StartReader());
    adapter.Responses().SetMatchPattern(Hex("3A").data(), 1);
    const uint8_t request = 0x3A;
    ASSERT_TRUE(adapter.Write(CHdlcAdapter::WriteAs::Frame, &request, 1, 3000));
    uint8_t answer[8];
    uint32_t length = 0;
    EXPECT_TRUE(adapter.Read(answer, sizeof(answer), &length, 0, 3000));
    EXPECT_EQ(length, 1u);
    const uint32_t start = GetTickCount();
    EXPECT_TRUE(adapter.StopReader());
    EXPECT_LT(TicksSince(start), 10000u); // before its 10 s limit for a reader that ignores the purge
}
