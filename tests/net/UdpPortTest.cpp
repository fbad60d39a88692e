#include <gtest/gtest.h>

#include <thread>

#include "net/CUdpPort.h"
#include "platform/Clock.h"
#include "tests/support/Loopback.h"
#include "tests/support/UdpPeer.h"

using namespace kivtest;

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
        EXPECT_EQ(port.IsBroadcastEnabled(), c.broadcast != 0) << c.address;
    }
    const std::error_code earlier = SocketError(SocketErrc::PermissionDenied);
    port.SetLastError(earlier);
    for (const char* bad : {"256.0.0.1", "router", "1.2.3", "-1.0.0.0"}) {
        SetLastSocketError({});
        EXPECT_FALSE(port.SetConfig(bad, 1280)) << bad;
        EXPECT_EQ(LastSocketError(), SocketError(SocketErrc::InvalidArgument));
    }
    EXPECT_EQ(port.LastError(), earlier);
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
    EXPECT_EQ(port.LastError(), SocketError(SocketErrc::InvalidArgument));
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
    Ipv4Endpoint from;
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
    EXPECT_FALSE(port.LastError());

    ASSERT_TRUE(peer.SendTo(from, ""));
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 5000));
    EXPECT_FALSE(port.LastError());

    ASSERT_TRUE(peer.SendTo(from, "far too long"));
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 5000));
    EXPECT_EQ(port.LastError(), SocketError(SocketErrc::MessageTooLong));

    EXPECT_TRUE(port.Purge()); // no effect on a UDP read
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(port.Read(buf, sizeof buf, &count, 300));
    EXPECT_EQ(port.LastError(), WaitCode::TimedOut);
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
    Ipv4Endpoint from;
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
