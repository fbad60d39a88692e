// Discovery against hosts that answer wrongly: replies that do not come from the address
// they name, floods of wrong records, a stop request in the middle of a wait.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "DiagTestSupport.h"
#include "diag/CUdpHdlc.h"
#include "diag/HdlcFraming.h"
#include "platform/CPollableEvent.h"
#include "platform/UniqueFd.h"

namespace {

const uint8_t kMac[6] = {0x02, 0x4B, 0x49, 0x56, 0x00, 0x07};

Bytes DiscoveryRecord(std::array<uint8_t, 4> named, uint8_t type = UDP_DISCOVERY)
{
    UdpRecord record;
    record.SetType(type);
    record.SetIp(named.data());
    record.SetMac(kMac);
    record.SetText("2.1.5.0");
    Bytes payload(record.Data(), record.Data() + UdpRecord::kSize);
    Bytes frame(HdlcMaxFrameLength(UdpRecord::kSize));
    frame.resize(HdlcEncode(payload.data(), uint32_t(payload.size()), frame.data(), 1));
    return frame;
}

// A UDP host on one loopback address (port 0: a free one) that answers the first request
// with `replies`, then, when `floodEveryMs` is set, keeps sending `flood` to the requester
// at that (scaled) interval until it is destroyed.
class LoopbackHost {
public:
    LoopbackHost(const char* address, std::vector<Bytes> replies, Bytes flood = {}, uint32_t floodEveryMs = 0)
        : m_Replies(std::move(replies)), m_Flood(std::move(flood)), m_nFloodMs(floodEveryMs)
    {
        m_Socket.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        inet_pton(AF_INET, address, &sa.sin_addr);
        m_bOk = ::bind(m_Socket.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        socklen_t len = sizeof sa;
        ::getsockname(m_Socket.Get(), reinterpret_cast<sockaddr*>(&sa), &len);
        m_nPort = ntohs(sa.sin_port);
        m_Thread = std::thread([this] { Run(); });
    }
    ~LoopbackHost()
    {
        m_Stop.Set();
        m_Thread.join();
    }
    bool Ok() const { return m_bOk; }
    uint16_t Port() const { return m_nPort; }
    int Sent() const { return m_nSent.load(); }

private:
    void Run()
    {
        sockaddr_in peer{};
        bool known = false;
        for (;;) {
            pollfd fds[2] = {{m_Stop.Handle(), POLLIN, 0}, {m_Socket.Get(), POLLIN, 0}};
            const int wait = known && m_nFloodMs != 0 ? ScaledPollTimeout(m_nFloodMs) : -1;
            if (::poll(fds, 2, wait) < 0)
                continue;
            if (fds[0].revents != 0)
                return;
            if (fds[1].revents != 0) {
                uint8_t buffer[1024];
                socklen_t len = sizeof peer;
                if (::recvfrom(m_Socket.Get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &len) < 0)
                    continue;
                if (!known) {
                    known = true;
                    for (const Bytes& reply : m_Replies)
                        Send(peer, reply);
                }
                continue;
            }
            if (known && !m_Flood.empty())
                Send(peer, m_Flood);
        }
    }
    void Send(const sockaddr_in& to, const Bytes& bytes)
    {
        ::sendto(m_Socket.Get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        ++m_nSent;
    }

    std::vector<Bytes> m_Replies;
    Bytes m_Flood;
    uint32_t m_nFloodMs;
    UniqueFd m_Socket;
    uint16_t m_nPort = 0;
    bool m_bOk = false;
    std::atomic<int> m_nSent{0};
    CPollableEvent m_Stop;
    std::thread m_Thread;
};

const uint8_t kHost3[4] = {127, 0, 0, 3};

class DiscoveryRepliesTest : public ::testing::Test {
protected:
    void SetUp() override { UseFastClock(); }
};

} // namespace

TEST_F(DiscoveryRepliesTest, AReplyNamingAnotherHostIsSkippedAndNothingOfItIsTaken)
{
    LoopbackHost host("127.0.0.3", {DiscoveryRecord({127, 0, 0, 9})});
    ASSERT_TRUE(host.Ok());
    CUdpHdlc udp(kHost3, host.Port());
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    ASSERT_EQ(udp.SkipNotes().size(), 1u);
    EXPECT_EQ(udp.SkipNotes()[0], "discovery reply from 127.0.0.3 skipped: it names 127.0.0.9, not its own address");
    EXPECT_EQ(ToHex(Bytes(ip, ip + 4)), "00 00 00 00");

    std::vector<DiscoveryReply> all;
    CUdpHdlc again(kHost3, host.Port());
    EXPECT_FALSE(again.DiscoverAll(&all));
    EXPECT_TRUE(all.empty());
}

TEST_F(DiscoveryRepliesTest, DiscoverTakesTheFirstReplyAndDiscoverAllListensToTheEnd)
{
    const Bytes good = DiscoveryRecord({127, 0, 0, 3});
    LoopbackHost host("127.0.0.3", {DiscoveryRecord({127, 0, 0, 3}, UDP_READY_PROBE), good, good});
    ASSERT_TRUE(host.Ok());

    const uint32_t start = GetTickCount();
    CUdpHdlc first(kHost3, host.Port());
    uint8_t mac[6] = {}, ip[4] = {};
    std::string text;
    ASSERT_TRUE(first.Discover(mac, ip, &text));
    EXPECT_LT(TicksSince(start), CUdpHdlc::kDiscoverReplyTimeoutMs);  // did not wait for more
    EXPECT_EQ(ToHex(Bytes(ip, ip + 4)), "7F 00 00 03");
    EXPECT_EQ(text, "2.1.5.0");
    EXPECT_EQ(first.SkipNotes(), std::vector<std::string>{"discovery reply from 127.0.0.3 skipped: record of type 10"});

    LoopbackHost again("127.0.0.3", {good, good});
    const uint32_t allStart = GetTickCount();
    CUdpHdlc listener(kHost3, again.Port());
    std::vector<DiscoveryReply> all;
    ASSERT_TRUE(listener.DiscoverAll(&all));
    EXPECT_GE(TicksSince(allStart), CUdpHdlc::kDiscoverReplyTimeoutMs);
    ASSERT_EQ(all.size(), 1u);  // the same router twice is one router
    EXPECT_EQ(all[0].ip, (std::array<uint8_t, 4>{127, 0, 0, 3}));
    EXPECT_EQ(all[0].mac, (std::array<uint8_t, 6>{0x02, 0x4B, 0x49, 0x56, 0x00, 0x07}));
}

TEST_F(DiscoveryRepliesTest, AFloodOfWrongRecordsDoesNotStretchTheTry)
{
    // A wrong record every 100 ms: each arrives well within the 3000 ms a reply may take,
    // so only one deadline for the whole try ends it.
    LoopbackHost host("127.0.0.3", {}, DiscoveryRecord({127, 0, 0, 3}, UDP_READY_PROBE), 100);
    ASSERT_TRUE(host.Ok());
    CUdpHdlc udp(kHost3, host.Port());
    const uint32_t start = GetTickCount();
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    const uint32_t elapsed = TicksSince(start);
    EXPECT_GE(elapsed, CUdpHdlc::kDiscoverReplyTimeoutMs);
    EXPECT_LT(elapsed, 2 * CUdpHdlc::kDiscoverReplyTimeoutMs);  // generous for a loaded machine
    EXPECT_GE(udp.SkippedCount(), 5);
    EXPECT_EQ(udp.SkipNotes().size(), CUdpHdlc::kMaxSkipNotes);  // the rest only counted
}

TEST_F(DiscoveryRepliesTest, AStopRequestEndsTheWaitAtOnce)
{
    LoopbackHost host("127.0.0.3", {}, DiscoveryRecord({127, 0, 0, 3}, UDP_READY_PROBE), 100);
    ASSERT_TRUE(host.Ok());
    CPollableEvent stop;
    CUdpHdlc udp(kHost3, host.Port(), std::string(), stop.Handle());
    std::thread stopper([&] {
        Sleep(500);
        stop.Set();
    });
    const uint32_t start = GetTickCount();
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    const uint32_t elapsed = TicksSince(start);
    stopper.join();
    EXPECT_GE(elapsed, 500u);
    EXPECT_LT(elapsed, 2000u);  // the try alone would take 3000

    // Already stopped: the next try does not wait at all.
    CUdpHdlc next(kHost3, host.Port(), std::string(), stop.Handle());
    const uint32_t again = GetTickCount();
    EXPECT_FALSE(next.Discover(mac, ip, nullptr));
    EXPECT_LT(TicksSince(again), 500u);
}
