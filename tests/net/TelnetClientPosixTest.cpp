// The Telnet client against a real Telnet server, busybox telnetd, which a POSIX system runs
// on a connection handed to it.
#include <gtest/gtest.h>

#include "net/CTelnetClient.h"
#include "tests/support/BusyboxTelnetd.h"
#include "tests/support/Loopback.h"
#include "tests/support/RouterShell.h"
#include "tests/support/Strict.h"
#include "tests/support/TcpListener.h"

using namespace kivtest;

TEST(TelnetClient, NegotiatesAndLogsInOnBusyboxTelnetd)
{
    if (Busybox().empty())
        KIV_SKIP_OR_FAIL("busybox is not in PATH (package busybox-static)");
    if (!BusyboxHasTelnetd())
        KIV_SKIP_OR_FAIL("this busybox has no telnetd applet (package busybox-static)");
    TcpListener listener;
    CTelnetClient client;
    client.SetPortNumber(listener.Port());
    ASSERT_TRUE(client.Connect(LOOPBACK));
    CSocketHandle connection = listener.Accept();
    ASSERT_TRUE(connection.Valid());
    BusyboxTelnetd server;
    ASSERT_TRUE(server.Serve(std::move(connection)));

    std::string all;
    ASSERT_TRUE(WaitForText(client, "Login:", all)) << all << server.Err();
    ASSERT_TRUE(client.SendText("admin\r\n", 1000));
    ASSERT_TRUE(WaitForText(client, "Password:", all)) << all;
    ASSERT_TRUE(client.SendText("tovex\r\n", 1000));
    ASSERT_TRUE(WaitForText(client, "router#", all)) << all;
    ASSERT_TRUE(client.SendText("nvram get cfe_version\r\n", 1000));
    ASSERT_TRUE(WaitForText(client, "CFE 1.2.3", all)) << all;
    client.Disconnect();
    EXPECT_FALSE(client.IsConnected());
}
