#include <gtest/gtest.h>

#include <future>

#include "diag/CUdpHdlc.h"
#include "platform/Clock.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/Loopback.h"
#include "tests/support/UdpPeer.h"

using namespace kivtest;

namespace {

const uint8_t ROUTER_IP[4] = {192, 168, 1, 1};
const uint8_t ROUTER_MAC[6] = {0x00, 0x1E, 0x10, 0x7E, 0x7D, 0x01};

// A record is 32 bytes on the wire; its text starts at byte 11.
constexpr size_t RECORD_SIZE = 32;
constexpr size_t TEXT_OFFSET = 11;

Bytes RecordBytes(const UdpRecord& record) { return Bytes(record.Data(), record.Data() + RECORD_SIZE); }

class UdpHdlcTest : public ::testing::Test {
protected:
    void Reply(std::function<std::vector<Bytes>(const Bytes& request)> replies)
    {
        m_Peer.SetResponder([replies](const Bytes& datagram) {
            std::vector<Bytes> framed;
            for (const Bytes& r : replies(Unframe(datagram)))
                framed.push_back(Frame(r, 1));
            return framed;
        });
    }

    UdpPeer m_Peer;
};

} // namespace

TEST_F(UdpHdlcTest, DiscoverySkipsZeroMacAndOtherTypes)
{
    UdpRecord good;
    good.SetType(UDP_DISCOVERY);
    good.SetIp(LOOPBACK_IP); // a router answers from the address it names
    good.SetMac(ROUTER_MAC);
    for (size_t i = TEXT_OFFSET; i < RECORD_SIZE; ++i)
        good.Data()[i] = uint8_t('a' + (i - TEXT_OFFSET)); // 21 bytes, no zero
    UdpRecord other = good;
    other.SetType(UDP_READY_PROBE);

    Reply([&](const Bytes& request) {
        // The request itself comes back first (zero MAC), then another type, then the answer.
        return std::vector<Bytes>{request, RecordBytes(other), RecordBytes(good)};
    });
    CUdpHdlc udp(LOOPBACK_IP, m_Peer.Port());
    uint8_t mac[6] = {}, ip[4] = {};
    std::string text;
    ASSERT_TRUE(udp.Discover(mac, ip, &text));
    EXPECT_EQ(ToHex(Bytes(mac, mac + 6)), "00 1E 10 7E 7D 01");
    EXPECT_EQ(ToHex(Bytes(ip, ip + 4)), "7F 00 00 01");
    EXPECT_EQ(text, "abcdefghijklmnopqrstu");
    EXPECT_EQ(udp.SkippedCount(), 2);

    auto datagrams = m_Peer.Datagrams();
    ASSERT_EQ(datagrams.size(), 1u);
    Bytes expected = {0x7E, 0x01};
    expected.resize(2 + 31, 0);
    expected.insert(expected.end(), {0x12, 0xBA, 0x7E});
    EXPECT_EQ(ToHex(datagrams[0]), ToHex(expected));
}

TEST_F(UdpHdlcTest, DiscoveryFailsWhenNoValidReplyArrives)
{
    Reply([](const Bytes& request) { return std::vector<Bytes>{request}; });
    CUdpHdlc udp(LOOPBACK_IP, m_Peer.Port());
    uint8_t mac[6] = {}, ip[4] = {};
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    EXPECT_GE(TicksSince(start), 3000u); // one read time-out of 3000 ms
}

TEST_F(UdpHdlcTest, DiscoverySkipsRepliesThatAreNotOneRecordFromTheAddressTheyName)
{
    UdpRecord named;
    named.SetType(UDP_DISCOVERY);
    named.SetIp(ROUTER_IP); // sent from 127.0.0.1
    named.SetMac(ROUTER_MAC);
    Bytes longer = RecordBytes(named);
    longer.push_back(0);
    UdpRecord own = named;
    own.SetIp(LOOPBACK_IP);
    Bytes shorter = RecordBytes(own);
    shorter.pop_back();
    Reply([&](const Bytes&) { return std::vector<Bytes>{Hex("01"), shorter, longer, RecordBytes(named)}; });
    CUdpHdlc udp(LOOPBACK_IP, m_Peer.Port());
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    EXPECT_EQ(udp.SkippedCount(), 4);
    ASSERT_EQ(udp.SkipNotes().size(), 4u);
    EXPECT_EQ(udp.SkipNotes()[0], "discovery reply from 127.0.0.1 skipped: 1 bytes, not one 32-byte record");
    EXPECT_EQ(udp.SkipNotes()[1], "discovery reply from 127.0.0.1 skipped: 31 bytes, not one 32-byte record");
    EXPECT_EQ(udp.SkipNotes()[2], "discovery reply from 127.0.0.1 skipped: 33 bytes, not one 32-byte record");
    EXPECT_EQ(udp.SkipNotes()[3], "discovery reply from 127.0.0.1 skipped: it names 192.168.1.1, not its own address");
    EXPECT_EQ(ToHex(Bytes(ip, ip + 4)), "00 00 00 00"); // nothing of them was taken
}

TEST_F(UdpHdlcTest, ExchangeRequiresTheIdenticalRecord)
{
    struct Case {
        const char* name;
        std::function<Bytes(Bytes)> reply;
        bool expected;
    };
    const Case cases[] = {
        {"echo", [](Bytes r) { return r; }, true},
        {"byte 31 differs",
         [](Bytes r) {
             r[31] = 1;
             return r;
         },
         false},
        {"31 bytes",
         [](Bytes r) {
             r.pop_back();
             return r;
         },
         false},
        {"33 bytes",
         [](Bytes r) {
             r.push_back(0);
             return r;
         },
         false},
        {"no reply", [](Bytes) { return Bytes(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reply([&c](const Bytes& request) {
            Bytes reply = c.reply(request);
            return reply.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{reply};
        });
        CUdpHdlc udp(LOOPBACK_IP, m_Peer.Port());
        udp.m_Request.SetType(UDP_ENTER_FORCE_LOAD);
        udp.m_Request.SetIp(ROUTER_IP);
        udp.m_Request.SetMac(ROUTER_MAC);
        EXPECT_EQ(udp.Exchange(2000), c.expected);
    }
    const Bytes last = Unframe(m_Peer.Datagrams().back());
    EXPECT_EQ(ToHex(Bytes(last.begin(), last.begin() + 11)), "07 C0 A8 01 01 00 1E 10 7E 7D 01");
}

// Only the router's own address and port answer a control record: the echo (which anyone
// can predict) sent from another host, or from another port of the router's address, is
// never taken, and the router's own echo still is.
TEST_F(UdpHdlcTest, ExchangeTakesTheEchoOnlyFromTheRoutersAddressAndPort)
{
    UdpPeer otherHost(9);
    UdpPeer otherPort(1);
    for (UdpPeer* echo : {&otherHost, &otherPort, &m_Peer}) {
        CUdpHdlc udp(LOOPBACK_IP, m_Peer.Port());
        udp.m_Request.SetType(UDP_ERASE_NVRAM);
        udp.m_Request.SetIp(LOOPBACK_IP);
        udp.m_Request.SetMac(ROUTER_MAC);
        auto exchange = std::async(std::launch::async, [&udp] { return udp.Exchange(2000); });
        std::string request;
        Ipv4Endpoint from;
        ASSERT_TRUE(m_Peer.Receive(request, from));
        ASSERT_TRUE(echo->SendTo(from, request)); // a record's echo is the record itself
        EXPECT_EQ(exchange.get(), echo == &m_Peer) << "echo from port " << echo->Port();
    }
}

// A discovery toward one address (a unicast target) hears only that address: another host
// answering in its own name is not taken, as its name would be where the tool connects.
TEST_F(UdpHdlcTest, UnicastDiscoveryHearsOnlyItsTarget)
{
    UdpPeer otherHost(9);
    const uint8_t host9[4] = {127, 0, 0, 9};
    UdpRecord reply;
    reply.SetType(UDP_DISCOVERY);
    reply.SetIp(host9);
    reply.SetMac(ROUTER_MAC);
    const Bytes frame = Frame(RecordBytes(reply), 1);

    CUdpHdlc udp(LOOPBACK_IP, m_Peer.Port());
    std::vector<DiscoveryReply> replies;
    auto discovery = std::async(std::launch::async, [&] { return udp.DiscoverAll(&replies); });
    std::string request;
    Ipv4Endpoint from;
    ASSERT_TRUE(m_Peer.Receive(request, from));
    ASSERT_TRUE(otherHost.SendTo(from, std::string(frame.begin(), frame.end())));
    EXPECT_FALSE(discovery.get());
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(udp.SkippedCount(), 0); // not even heard
}
