// The interfaces of a Linux machine: the loopback interface "lo", SO_BINDTODEVICE, and what
// older kernels refuse.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <cerrno>

#include "net/CNetInterfaces.h"
#include "net/InterfaceBinding.h"
#include "tests/support/Strict.h"

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

    CSocketHandle socket;
    ASSERT_FALSE(OpenSocket(SocketType::Datagram, socket));
    ASSERT_FALSE(TieSocketToInterface(socket.Get(), "lo"));
    char name[32] = {};
    socklen_t length = sizeof name;
    ASSERT_EQ(::getsockopt(socket.Get(), SOL_SOCKET, SO_BINDTODEVICE, name, &length), 0);
    EXPECT_STREQ(name, "lo");
}

TEST(NetInterfacesTest, RefusalOnOldKernelsIsExplained)
{
    const std::string text = ExplainTieError("eth1", EPERM);
    EXPECT_NE(text.find("eth1"), std::string::npos);
    EXPECT_NE(text.find("Linux kernels before 5.7"), std::string::npos);
    EXPECT_NE(text.find("CAP_NET_RAW"), std::string::npos);
    EXPECT_EQ(ExplainTieError("eth1", ENODEV).find("5.7"), std::string::npos);
}
