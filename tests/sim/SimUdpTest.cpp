// Discovery and control records against the running simulator, through CUdpHdlc.

#include "diag/CUdpHdlc.h"
#include "tests/support/Loopback.h"
#include "tests/support/SimFixture.h"
#include "wire/UdpRecord.h"

using namespace kivtest;

namespace {

class SimUdpTest : public SimFixture {
protected:
    bool Exchange(uint8_t type, const uint8_t* mac, uint32_t timeoutMs = 2000)
    {
        CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
        udp.m_Request.SetType(type);
        udp.m_Request.SetIp(LOOPBACK_IP);
        udp.m_Request.SetMac(mac);
        return udp.Exchange(timeoutMs);
    }
};

TEST_F(SimUdpTest, DiscoveryReplyCarriesAddressMacAndVersion)
{
    m_Config.appVersion = "2.1.4.9";
    StartSim();
    CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
    uint8_t mac[6] = {};
    uint8_t ip[4] = {};
    std::string text;
    ASSERT_TRUE(udp.Discover(mac, ip, &text));
    EXPECT_EQ(0, std::memcmp(mac, m_Config.mac.data(), 6));
    EXPECT_EQ(0, std::memcmp(ip, LOOPBACK_IP, 4));
    EXPECT_EQ("2.1.4.9", text);
    EXPECT_EQ(0u, m_pSim->ViolationCount());
}

TEST_F(SimUdpTest, SideBySideOnTheirOwnAddresses)
{
    m_Config.appVersion = "2.1.0.1";
    StartSim();
    CSimConfig second = m_Config;
    second.address = "127.0.0.2";
    second.routerPort = m_pSim->RouterPort(); // the same port: each binds its own address only
    second.telnetPort = m_pSim->TelnetPort();
    second.appVersion = "2.1.0.2";
    second.transcriptPath.clear();
    CRouterSim other(second);
    std::string error;
    ASSERT_TRUE(other.Open(error)) << error;
    ASSERT_TRUE(other.Start());
    const uint8_t secondIp[4] = {127, 0, 0, 2};
    for (const uint8_t* target : {LOOPBACK_IP, secondIp}) {
        CUdpHdlc udp(target, m_pSim->RouterPort());
        uint8_t mac[6], ip[4];
        std::string text;
        ASSERT_TRUE(udp.Discover(mac, ip, &text));
        EXPECT_EQ(0, std::memcmp(ip, target, 4));
        EXPECT_EQ(target == LOOPBACK_IP ? "2.1.0.1" : "2.1.0.2", text);
    }
}

TEST_F(SimUdpTest, MisleadingRepliesComeFirstUnderFaults)
{
    AddFault("discovery-zero-mac");
    AddFault("discovery-other-type=3");
    m_Config.discoveryText = "9.9.9.9";
    StartSim();
    CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
    uint8_t mac[6] = {};
    uint8_t ip[4] = {};
    std::string text;
    ASSERT_TRUE(udp.Discover(mac, ip, &text)); // the client skips the two bad replies
    EXPECT_EQ(0, std::memcmp(mac, m_Config.mac.data(), 6));
    EXPECT_EQ("9.9.9.9", text);
    m_pSim->Stop();
    int sent = 0;
    for (auto& r : Find("proto", "udp"))
        if (r["dir"] == "out")
            ++sent;
    EXPECT_EQ(3, sent);
}

TEST_F(SimUdpTest, NoDiscoveryFaultLeavesTheClientWaiting)
{
    AddFault("no-discovery");
    StartSim();
    CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
    uint8_t mac[6] = {};
    uint8_t ip[4] = {};
    EXPECT_FALSE(udp.Discover(mac, ip, nullptr));
}

TEST_F(SimUdpTest, ControlRecordsEchoedOnlyForOwnIdentity)
{
    StartSim();
    EXPECT_TRUE(Exchange(UDP_READY_PROBE, m_Config.mac.data()));
    EXPECT_TRUE(Exchange(UDP_ERASE_NVRAM, m_Config.mac.data()));
    EXPECT_TRUE(Exchange(UDP_LEAVE_FORCE_LOAD, m_Config.mac.data()));
    EXPECT_EQ(0u, m_pSim->ViolationCount());

    const uint8_t otherMac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(Exchange(UDP_READY_PROBE, otherMac, 300));
    EXPECT_EQ(1u, m_pSim->ViolationCount());
    m_pSim->Stop();
    auto violations = Find("kind", "violation");
    ASSERT_EQ(1u, violations.size());
    EXPECT_NE(std::string::npos, violations[0]["violation"].get<std::string>().find("MAC"));
}

TEST_F(SimUdpTest, EraseNotEchoedUnderFault)
{
    AddFault("no-erase-echo");
    StartSim();
    EXPECT_FALSE(Exchange(UDP_ERASE_NVRAM, m_Config.mac.data(), 300));
    EXPECT_TRUE(Exchange(UDP_ENTER_FORCE_LOAD, m_Config.mac.data()));
}

TEST_F(SimUdpTest, MalformedDatagramsAreCountedAndSurvived)
{
    StartSim();
    CUdpHdlc udp(LOOPBACK_IP, m_pSim->RouterPort());
    const uint8_t garbage[5] = {0x7E, 1, 2, 3, 0x7E};
    EXPECT_TRUE(udp.m_UdpPort.Write(garbage, sizeof garbage, 1000));
    std::vector<uint8_t> big(4000, 0x55);
    EXPECT_TRUE(udp.m_UdpPort.Write(big.data(), static_cast<uint32_t>(big.size()), 1000));
    const uint8_t shortRecord[3] = {1, 0, 0};
    EXPECT_TRUE(udp.SendFrame(shortRecord, sizeof shortRecord, 1000));
    // Still serving, and the three datagrams were counted.
    uint8_t mac[6] = {};
    uint8_t ip[4] = {};
    ASSERT_TRUE(udp.Discover(mac, ip, nullptr));
    EXPECT_EQ(3u, m_pSim->ViolationCount());
}

} // namespace
