// The interface list and tying sockets to an interface.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <cerrno>

#include "net/CNetInterfaces.h"
#include "net/CUdpPort.h"
#include "net/InterfaceBinding.h"
#include "platform/CUniqueFd.h"
#include "tests/support/Strict.h"

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
    // Only interfaces that are up count as being on a subnet.
    const auto on = list.OnSubnetOf({192, 168, 1, 255});
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0].name, "wlan0");
    EXPECT_EQ(list.UpNonLoopback().size(), 2u);
}

TEST(NetInterfacesTest, ReadsLoopbackAndTiesSocketsToIt)
{
    int error = -1;
    const CNetInterfaces system = CNetInterfaces::ReadSystem(&error);
    EXPECT_EQ(error, 0);
    const NetInterface* lo = system.Find("lo");
    ASSERT_NE(lo, nullptr) << system.DescribeAll();
    EXPECT_TRUE(lo->loopback);
    EXPECT_EQ(lo->SubnetText(), "127.0.0.0/8");

    // A kernel before 5.7 refuses this to ordinary users; the probe then says why.
    const int probe = ProbeInterfaceTie("lo");
    if (probe == EPERM)
        KIV_SKIP_OR_FAIL(ExplainTieError("lo", probe));
    EXPECT_EQ(probe, 0);
    EXPECT_EQ(ProbeInterfaceTie("no-such-if0"), ENODEV);

    CUniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(TieSocketToInterface(fd.Get(), "lo"));
    char name[32] = {};
    socklen_t length = sizeof name;
    ASSERT_EQ(::getsockopt(fd.Get(), SOL_SOCKET, SO_BINDTODEVICE, name, &length), 0);
    EXPECT_STREQ(name, "lo");

    // A port whose interface cannot be tied does not open, and says why.
    CUdpPort port;
    port.SetInterface("no-such-if0");
    ASSERT_TRUE(port.SetConfig("127.0.0.1", 9));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.GetLastErrorCode(), static_cast<uint32_t>(ENODEV));
    EXPECT_FALSE(port.IsOpen());
}

TEST(NetInterfacesTest, RefusalOnOldKernelsIsExplained)
{
    const std::string text = ExplainTieError("eth1", EPERM);
    EXPECT_NE(text.find("eth1"), std::string::npos);
    EXPECT_NE(text.find("Linux kernels before 5.7"), std::string::npos);
    EXPECT_NE(text.find("CAP_NET_RAW"), std::string::npos);
    EXPECT_EQ(ExplainTieError("eth1", ENODEV).find("5.7"), std::string::npos);
}
