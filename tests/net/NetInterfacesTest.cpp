// The interface list and tying sockets to an interface.
#include <gtest/gtest.h>

#include "net/CNetInterfaces.h"
#include "net/CUdpPort.h"
#include "net/InterfaceBinding.h"

namespace {

NetInterface Entry(const std::string& name, std::array<uint8_t, 4> address, int prefix, bool up = true)
{
    NetInterface e;
    e.name = name;
    e.address = address;
    e.prefixLength = prefix;
    e.up = up;
    e.running = up;
    return e;
}

} // namespace

TEST(NetInterfacesTest, SubnetsNamesAndDescriptions)
{
    NetInterface wifi = Entry("wlan0", {192, 168, 1, 50}, 24);
    NetInterface wide = Entry("eth2", {10, 1, 2, 3}, 23);
    wide.running = false;
    wide.adapterName = "{5E1D0A2C-0000-4000-8000-00000000E7E2}"; // Windows: found by either name
    CNetInterfaces list({wifi, wide, Entry("eth3", {192, 168, 1, 7}, 24, false)}, {"eth9"});

    EXPECT_TRUE(wifi.Contains({192, 168, 1, 255}));
    EXPECT_TRUE(wifi.Contains({192, 168, 1, 0}));
    EXPECT_FALSE(wifi.Contains({192, 168, 2, 1}));
    EXPECT_TRUE(wide.Contains({10, 1, 3, 255})); // a /23 spans two /24s
    EXPECT_FALSE(wide.Contains({10, 1, 4, 0}));
    EXPECT_EQ(wide.SubnetText(), "10.1.2.0/23");
    EXPECT_EQ(Entry("any", {1, 2, 3, 4}, 0).SubnetText(), "0.0.0.0/0");
    EXPECT_EQ(Entry("one", {1, 2, 3, 4}, 32).SubnetText(), "1.2.3.4/32");

    EXPECT_EQ(list.DescribeAll(),
              "wlan0 192.168.1.50/24, eth2 10.1.2.3/23 (no link), eth3 192.168.1.7/24 (down), eth9 (no IPv4 address)");
    EXPECT_TRUE(list.Exists("eth9"));
    EXPECT_EQ(list.Find("eth9"), nullptr);
    EXPECT_FALSE(list.Exists("eth")); // whole names only
    ASSERT_NE(list.Find("eth2"), nullptr);
    EXPECT_EQ(list.Find(wide.adapterName), list.Find("eth2"));
    EXPECT_EQ(list.Find(""), nullptr); // no adapter name is no name
    // Only interfaces that are up count as being on a subnet.
    const auto on = list.OnSubnetOf({192, 168, 1, 255});
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0].name, "wlan0");
    EXPECT_EQ(list.UpNonLoopback().size(), 2u);
}

// A name no interface has: the probe and a port that is to be tied both say so.
TEST(NetInterfacesTest, AnUnknownInterfaceIsRefusedWithItsReason)
{
    int error = -1;
    const CNetInterfaces system = CNetInterfaces::ReadSystem(&error);
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(system.Exists("no-such-if0"));
    EXPECT_EQ(ProbeInterfaceTie("no-such-if0"), SocketError(SocketErrc::NoSuchDevice).value());
    EXPECT_NE(ExplainTieError("no-such-if0", SocketError(SocketErrc::NoSuchDevice).value()).find("no-such-if0"),
              std::string::npos);

    CUdpPort port;
    port.SetInterface("no-such-if0");
    ASSERT_TRUE(port.SetConfig("127.0.0.1", 9));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.LastError(), SocketError(SocketErrc::NoSuchDevice));
    EXPECT_FALSE(port.IsOpen());
}
