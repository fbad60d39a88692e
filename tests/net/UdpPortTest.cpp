#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <cerrno>
#include <thread>

#include "net/CUdpPort.h"
#include "platform/Clock.h"
#include "tests/support/Loopback.h"
#include "tests/support/UdpPeer.h"

using namespace kivtest;

namespace {

int BroadcastOption(const CUdpPort& port)
{
    int value = -1;
    socklen_t len = sizeof value;
    getsockopt(port.NativeHandleForTest(), SOL_SOCKET, SO_BROADCAST, &value, &len);
    return value;
}

} // namespace

// Only socket options are inspected here: nothing is ever sent to these addresses.
TEST(UdpPort, BroadcastOptionOnlyForAddressesEndingIn255)
{
    CUdpPort port;
    EXPECT_EQ(port.GetPortType(), 1); // the UDP port type code
    EXPECT_TRUE(port.Purge());
    struct Case {
        const char* address;
        int broadcast;
    };
    for (const Case& c :
         {Case{"255.255.255.255", 1}, Case{"192.168.1.255", 1}, Case{"192.168.1.1", 0}, Case{"127.0.0.1", 0}}) {
        ASSERT_TRUE(port.SetConfig(c.address, 1280)) << c.address;
        ASSERT_TRUE(port.Open()) << c.address;
        EXPECT_EQ(BroadcastOption(port) != 0, c.broadcast != 0) << c.address;
    }
    port.m_dwLastError = 3;
    for (const char* bad : {"256.0.0.1", "router", "1.2.3", "-1.0.0.0"}) {
        errno = 0;
        EXPECT_FALSE(port.SetConfig(bad, 1280)) << bad;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(port.m_dwLastError, 3u);
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(port.Close());
}

TEST(UdpPort, ReadBeforeFirstWriteFailsAtOnce)
{
    UdpPeer peer;
    CUdpPort port;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, peer.Port()));
    ASSERT_TRUE(port.Open());
    char buf[8];
    uint32_t count = 4;
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 60000));
    EXPECT_EQ(port.m_dwLastError, static_cast<uint32_t>(EINVAL));
    EXPECT_EQ(count, 0u);
    EXPECT_LT(TicksSince(start), 60000u) << "returned before its time-out";
}

TEST(UdpPort, DatagramsBothWays)
{
    UdpPeer peer;
    CUdpPort port;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, peer.Port()));
    ASSERT_TRUE(port.Open());

    ASSERT_TRUE(port.Write("ping", 4, 1000));
    std::string data;
    sockaddr_in from{};
    ASSERT_TRUE(peer.Receive(data, from));
    EXPECT_EQ(data, "ping");

    ASSERT_TRUE(port.Write(nullptr, 0, 1000)); // an empty datagram goes out
    ASSERT_TRUE(peer.Receive(data, from));
    EXPECT_EQ(data, "");

    char buf[8];
    uint32_t count = 0;
    ASSERT_TRUE(peer.SendTo(from, "pong"));
    ASSERT_TRUE(port.Read(buf, sizeof buf, &count, 5000));
    EXPECT_EQ(std::string(buf, count), "pong");
    EXPECT_EQ(port.m_dwLastError, 0u);

    ASSERT_TRUE(peer.SendTo(from, ""));
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 5000));
    EXPECT_EQ(port.m_dwLastError, 0u);

    ASSERT_TRUE(peer.SendTo(from, "far too long"));
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 5000));
    EXPECT_EQ(port.m_dwLastError, static_cast<uint32_t>(EMSGSIZE));

    EXPECT_TRUE(port.Purge()); // no effect on a UDP read
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 300));
    EXPECT_EQ(port.m_dwLastError, 258u); // timed out
    EXPECT_GE(TicksSince(start), 290u);
}

TEST(UdpPort, SetConfigRedirectsAnOpenPort)
{
    UdpPeer first;
    UdpPeer second;
    CUdpPort port;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, first.Port()));
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.SetConfig(LOOPBACK, second.Port()));
    ASSERT_TRUE(port.Write("to second", 9, 1000));
    std::string data;
    sockaddr_in from{};
    ASSERT_TRUE(second.Receive(data, from));
    EXPECT_EQ(data, "to second");
    EXPECT_FALSE(first.Receive(data, from, 50));
}

TEST(UdpPort, CloseFromAnotherThreadEndsAnInfiniteRead)
{
    UdpPeer peer;
    CUdpPort port;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, peer.Port()));
    ASSERT_TRUE(port.Open());
    ASSERT_TRUE(port.Write("bind", 4, 1000));
    bool result = true;
    std::thread reader([&] {
        char buf[8];
        uint32_t count;
        result = port.Read(buf, sizeof buf, &count, INFINITE);
    });
    EXPECT_TRUE(port.Close());
    reader.join();
    EXPECT_FALSE(result);
}
