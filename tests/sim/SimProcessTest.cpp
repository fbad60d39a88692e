// kivrouter-sim as a program: the "ready" line, signals and the exit status.

#include <csignal>
#include <string>

#include "diag/CUdpHdlc.h"
#include "tests/support/Loopback.h"
#include "tests/support/Process.h"
#include "tests/support/SimProcess.h"

using namespace kivtest;

namespace {

TEST(SimProcessTest, ReadyLineThenCleanExitOnSignals)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SimProcess sim;
        SimOptions options;
        options.timeScale = 0.05;
        ASSERT_TRUE(sim.Start({}, options));
        EXPECT_NE(std::string::npos, sim.ReadyLine().find("ready")) << sim.ReadyLine();
        CUdpHdlc udp(LOOPBACK_IP, sim.RouterPort());
        uint8_t mac[6], ip[4];
        EXPECT_TRUE(udp.Discover(mac, ip, nullptr));
        EXPECT_EQ(0, sim.Stop(sig)) << sim.Err();
    }
}

TEST(SimProcessTest, StrictByDefaultItFailsAfterAViolation)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start());
    CUdpHdlc udp(LOOPBACK_IP, sim.RouterPort());
    udp.m_Request.SetType(UDP_READY_PROBE); // without the router's address and MAC
    EXPECT_FALSE(udp.Exchange(200));
    EXPECT_EQ(3, sim.Stop(SIGTERM));
}

TEST(SimProcessTest, UsageErrors)
{
    Process sim;
    ASSERT_TRUE(sim.Start({SimProcess::Program(), "--fault", "no-such-fault"})) << sim.Error();
    EXPECT_EQ(2, sim.Wait(std::chrono::seconds(10)));
    EXPECT_EQ(std::string::npos, sim.Out().find("ready"));
}

} // namespace
