// Discovery against hosts that answer wrongly: replies that do not come from the address
// they name, floods of wrong records, a stop request in the middle of a wait.
#include <gtest/gtest.h>

#include <thread>

#include "diag/CUdpHdlc.h"
#include "net/CWsaEvent.h"
#include "platform/Clock.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScopedTimeScale.h"
#include "tests/support/SimFixture.h"
#include "tests/support/UdpPeer.h"

using namespace kivtest;

namespace {

const uint8_t HOST3[4] = {127, 0, 0, 3};

Bytes DiscoveryFrame(const uint8_t named[4], uint8_t type = UDP_DISCOVERY)
{
    UdpRecord record;
    record.SetType(type);
    record.SetIp(named);
    const uint8_t mac[6] = {0x02, 0x4B, 0x49, 0x56, 0x00, 0x07};
    record.SetMac(mac);
    record.SetText("2.1.5.0");
    return Frame(Bytes(record.Data(), record.Data() + 32), 1); // a record is 32 bytes
}

// The virtual router on 127.0.0.1, answering discoveries as its faults say.
class DiscoveryRepliesTest : public SimFixture {
protected:
    uint16_t Port() const { return m_pSim->RouterPort(); }
};

} // namespace

TEST_F(DiscoveryRepliesTest, AReplyNamingAnotherHostIsSkippedAndNothingOfItIsTaken)
{
    AddFault("discovery-names=127.0.0.9");
    StartSim();
    CUdpHdlc udp(LOOPBACK_IP, Port());
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    ASSERT_EQ(udp.SkipNotes().size(), 1u);
    EXPECT_EQ(udp.SkipNotes()[0], "discovery reply from 127.0.0.1 skipped: it names 127.0.0.9, not its own address");
    EXPECT_EQ(ToHex(Bytes(ip, ip + 4)), "00 00 00 00");

    std::vector<DiscoveryReply> all;
    CUdpHdlc again(LOOPBACK_IP, Port());
    EXPECT_FALSE(again.DiscoverAll(&all));
    EXPECT_TRUE(all.empty());
}

TEST_F(DiscoveryRepliesTest, DiscoverTakesTheFirstReplyAndDiscoverAllListensToTheEnd)
{
    UdpPeer host(3);
    ASSERT_TRUE(host.Valid());
    const Bytes good = DiscoveryFrame(HOST3);
    host.SetResponder([&](const Bytes&) {
        return std::vector<Bytes>{DiscoveryFrame(HOST3, UDP_READY_PROBE), good, good};
    });

    CUdpHdlc first(HOST3, host.Port());
    uint8_t mac[6] = {}, ip[4] = {};
    std::string text;
    {
        // At the real pace the 3000 ms a try may last are 3 s, not 150 ms: time enough on a
        // loaded machine to tell returning at the first reply from waiting out the try.
        ScopedTimeScale realTime(1.0);
        const uint32_t start = GetTickCount();
        ASSERT_TRUE(first.Discover(mac, ip, &text));
        EXPECT_LT(TicksSince(start), 3000u); // did not wait out the 3000 ms for more
    }
    EXPECT_EQ(ToHex(Bytes(ip, ip + 4)), "7F 00 00 03");
    EXPECT_EQ(text, "2.1.5.0");
    EXPECT_EQ(first.SkipNotes(), std::vector<std::string>{"discovery reply from 127.0.0.3 skipped: record of type 10"});

    const uint32_t allStart = GetTickCount();
    CUdpHdlc listener(HOST3, host.Port());
    std::vector<DiscoveryReply> all;
    ASSERT_TRUE(listener.DiscoverAll(&all));
    EXPECT_GE(TicksSince(allStart), 3000u);
    ASSERT_EQ(all.size(), 1u); // the same router twice is one router
    EXPECT_EQ(all[0].ip, (std::array<uint8_t, 4>{127, 0, 0, 3}));
    EXPECT_EQ(all[0].mac, (std::array<uint8_t, 6>{0x02, 0x4B, 0x49, 0x56, 0x00, 0x07}));
}

TEST_F(DiscoveryRepliesTest, AFloodOfWrongRecordsDoesNotStretchTheTry)
{
    // A wrong record every 100 ms: each arrives well within the 3000 ms a reply may take,
    // so only one deadline for the whole try ends it.
    AddFault("no-discovery");
    AddFault("discovery-flood=100");
    StartSim();
    CUdpHdlc udp(LOOPBACK_IP, Port());
    const uint32_t start = GetTickCount();
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    EXPECT_GE(TicksSince(start), 3000u);
    // The router sends one wrong record every 100 ms on the same clock: some 30 fit in one
    // deadline for the try. A wait of 3000 ms after each record would take them in without
    // end (and this call would not return).
    EXPECT_GE(udp.SkippedCount(), 5);
    EXPECT_LE(udp.SkippedCount(), 32);
    EXPECT_EQ(udp.SkipNotes().size(), 8u); // eight notes; the rest only counted
}

TEST_F(DiscoveryRepliesTest, AStopRequestEndsTheWaitAtOnce)
{
    // Slower than the other tests, so that the stop at 500 ms and the try's 3000 ms lie far
    // apart in real time (125 and 750 ms).
    ScopedTimeScale scale(0.25);
    AddFault("no-discovery");
    AddFault("discovery-flood=100");
    StartSim();
    CWsaEvent stop;
    CUdpHdlc udp(LOOPBACK_IP, Port(), std::string(), &stop);
    const uint32_t start = GetTickCount();
    std::thread stopper([&] {
        Sleep(500);
        stop.Set();
    });
    uint8_t mac[6] = {}, ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
    const uint32_t elapsed = TicksSince(start);
    stopper.join();
    EXPECT_GE(elapsed, 500u);
    EXPECT_LT(elapsed, 3000u); // before the try's time-out

    // Already stopped: the next try does not wait at all.
    CUdpHdlc next(LOOPBACK_IP, Port(), std::string(), &stop);
    const uint32_t again = GetTickCount();
    EXPECT_FALSE(next.Discover(mac, ip, nullptr));
    EXPECT_LT(TicksSince(again), 3000u);
}
