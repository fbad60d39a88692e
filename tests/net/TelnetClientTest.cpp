#include <gtest/gtest.h>

#include "net/CLockedBuffer.h"
#include "net/CTelnetClient.h"
#include "platform/Clock.h"
#include "tests/support/Loopback.h"
#include "tests/support/RouterShell.h"
#include "tests/support/SilentPort.h"
#include "tests/support/Strict.h"
#include "tests/support/TcpListener.h"
#include "tests/support/Wait.h"

using namespace kivtest;

namespace {

std::vector<std::string> Split(const std::string& text)
{
    return CTelnetClient::SplitReply(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

using Lines = std::vector<std::string>;

// Waits until at least `n` received bytes wait in the client.
bool WaitPending(const CTelnetClient& client, int n)
{
    return WaitFor([&] { return client.PendingBytes() >= n; });
}

// Logs in on the fake shell, waiting for each prompt however long it takes.
bool Login(CTelnetClient& client)
{
    std::string all;
    return WaitForText(client, "Login:", all) && client.SendText("admin\r\n", 1000) &&
           WaitForText(client, "Password:", all) && client.SendText("tovex\r\n", 1000) &&
           WaitForText(client, "router#", all);
}

} // namespace

TEST(TelnetReply, SplitsAtCrLfOnly)
{
    EXPECT_EQ(Split("Login:"), Lines{"Login:"});
    EXPECT_EQ(Split("one\r\ntwo\r\n"), (Lines{"one", "two"}));
    EXPECT_EQ(Split("one\r\ntwo"), (Lines{"one", "two"}));
    EXPECT_EQ(Split(""), Lines{""});
    EXPECT_EQ(Split("\r"), Lines{"\r"});
    EXPECT_EQ(Split("a\rb\nc\r\n\r\nd"), (Lines{"a\rb\nc", "", "d"}));
    EXPECT_EQ(Split(std::string("ab\r\ncd\0ef\r\ngh", 14)), Lines{"ab"});
    EXPECT_TRUE(Split(std::string("\0x", 2)).empty());
    // Telnet commands are kept as text.
    EXPECT_EQ(Split("\xff\xfb\x01ok\r\n"), Lines{"\xff\xfb\x01ok"});
}

TEST(TelnetReply, TakesAtMost2045Bytes)
{
    const std::string big(3000, 'A');
    const Lines lines = Split(big);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 2045u);
    // A CR LF right at the cut still ends the text.
    const Lines cut = Split(std::string(2043, 'b') + "\r\nrest");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].size(), 2043u);
}

TEST(LockedBuffer, GrowsByMultiplesAndStopsAtItsCap)
{
    CLockedBuffer buffer(4);
    EXPECT_EQ(buffer.GetCapacity(), 16);
    EXPECT_FALSE(buffer.Append(nullptr, 3));
    EXPECT_FALSE(buffer.Append("abc", 0));
    ASSERT_TRUE(buffer.Append("0123456789", 10));
    ASSERT_TRUE(buffer.Append("abcdefghijklmnopqrstuvwxyz", 26)); // 36 bytes: 3 x 16
    EXPECT_EQ(buffer.GetCapacity(), 48);
    EXPECT_EQ(buffer.GetLength(), 36);

    char out[64] = {};
    EXPECT_EQ(buffer.Fetch(out, 5, 0, false), 5);
    EXPECT_EQ(std::string(out, 5), "01234");
    EXPECT_EQ(buffer.Fetch(out, 100, 30, false), 6);
    EXPECT_EQ(std::string(out, 6), "uvwxyz");
    EXPECT_EQ(buffer.Fetch(out, 10, 40, false), 0); // offset beyond the length
    EXPECT_EQ(buffer.Fetch(out, 4, 0, true), 4);    // clear drops the rest too
    EXPECT_EQ(buffer.GetLength(), 0);
    EXPECT_EQ(buffer.GetCapacity(), 48); // never shrinks

    const std::string chunk(1460, 'z');
    int appended = 0;
    while (buffer.Append(chunk.data(), static_cast<int>(chunk.size())))
        ++appended;
    EXPECT_EQ(appended, CLockedBuffer::MAX_CAPACITY / 1460);
    EXPECT_EQ(buffer.GetLength(), CLockedBuffer::MAX_CAPACITY);
    EXPECT_EQ(buffer.GetCapacity(), CLockedBuffer::MAX_CAPACITY);
    EXPECT_FALSE(buffer.Append("x", 1));
}

TEST(TelnetClient, LogsInAndRunsCommandsOnAFakeShell)
{
    RouterShell shell;
    shell.SetAnswer("nvram get cfe_version", "1.0.2");
    CTelnetClient client;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(LOOPBACK));
    ASSERT_TRUE(WaitPending(client, 6));

    const uint32_t start = GetTickCount();
    ASSERT_TRUE(client.WaitReply(100));
    EXPECT_GE(TicksSince(start), 495u); // the 500 ms floor
    EXPECT_EQ(client.GetLines(), Lines{"Login:"});
    EXPECT_EQ(client.FindLine(":"), 0);
    // The four option requests come first on the connection: 12 bytes.
    const std::vector<uint8_t> options{255, 251, 1, 255, 252, 33, 255, 253, 1, 255, 253, 3};
    ASSERT_TRUE(shell.Peer().WaitRawBytes(options.size()));
    const Bytes received = shell.Peer().Received();
    EXPECT_EQ(Bytes(received.begin(), received.begin() + 12), options);

    ASSERT_TRUE(client.SendAndWait("admin\r\n", ":", 10000));
    EXPECT_EQ(client.GetLines(), (Lines{"", "Password:"}));
    ASSERT_TRUE(client.SendAndWait("tovex\r\n", "#", 10000));
    ASSERT_TRUE(client.SendAndWait("nvram get cfe_version\r\n", "#", 10000));
    EXPECT_EQ(client.GetLines(), (Lines{"", "1.0.2", "router#"}));
    EXPECT_EQ(client.FindLine("1.0"), 1);
    EXPECT_EQ(client.GetLine(1), "1.0.2");
    EXPECT_EQ(client.GetLine(7), "");
    EXPECT_FALSE(client.SendAndWait("nvram get app_version\r\n", "9.9", 10000));

    client.Disconnect();
    EXPECT_EQ(client.GetLineCount(), 0);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.SendText("late\r\n", 100));
}

TEST(TelnetClient, FindLineRulesAndLongRepliesOverTheConnection)
{
    RouterShell shell;
    shell.SetRawAnswer("prompt-first", "a#\r\nb");
    shell.SetRawAnswer("twice", "x1\r\nx2\r\n");
    shell.SetRawAnswer("big", std::string(3000, 'A'));
    CTelnetClient client;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(LOOPBACK));
    ASSERT_TRUE(Login(client));

    ASSERT_TRUE(client.SendText("prompt-first\r\n", 1000));
    ASSERT_TRUE(WaitPending(client, 5));
    client.WaitReply(0);
    EXPECT_EQ(client.FindLine("#"), -1); // only the last line counts for the prompt
    EXPECT_EQ(client.FindLine("a#"), 0);

    ASSERT_TRUE(client.SendText("twice\r\n", 1000));
    ASSERT_TRUE(WaitPending(client, 8));
    client.WaitReply(0);
    EXPECT_EQ(client.FindLine("x"), 1);

    ASSERT_TRUE(client.SendText("big\r\n", 1000));
    ASSERT_TRUE(WaitPending(client, 3000));
    client.WaitReply(0);
    ASSERT_EQ(client.GetLineCount(), 1);
    EXPECT_EQ(client.GetLine(0), std::string(2045, 'A'));
    client.WaitReply(0); // the rest was dropped with the buffer
    EXPECT_EQ(client.GetLines(), Lines{""});
    EXPECT_EQ(client.FindLine(":"), -1);
}

TEST(TelnetClient, AFloodStaysBoundedAndAClosedPeerDoesNotBlockDisconnect)
{
    RouterShell shell;
    shell.SetRawAnswer("flood", std::string(1 << 20, 'F'));
    CTelnetClient client;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(LOOPBACK));
    ASSERT_TRUE(Login(client));
    ASSERT_TRUE(client.SendText("flood\r\n", 1000));
    ASSERT_TRUE(WaitPending(client, CLockedBuffer::MAX_CAPACITY));
    EXPECT_EQ(client.PendingBytes(), CLockedBuffer::MAX_CAPACITY);
    client.WaitReply(0);
    EXPECT_EQ(client.GetLine(0).size(), 2045u);

    ASSERT_TRUE(client.SendText("quit\r\n", 1000));
    client.Disconnect(); // joins the receive thread, even while it pauses after the close
    EXPECT_FALSE(client.IsConnected());
}

TEST(TelnetClient, ConnectFailuresAndTextKeptAcrossReconnect)
{
    CTelnetClient client;
    EXPECT_FALSE(client.Connect("router.local"));
    EXPECT_FALSE(client.Connect("255.255.255.255"));
    {
        SilentPort nobody;
        client.SetPortNumber(nobody.Port());
        EXPECT_FALSE(client.Connect(LOOPBACK));
    }
    EXPECT_FALSE(client.IsConnected());

    RouterShell shell;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(LOOPBACK));
    ASSERT_TRUE(WaitPending(client, 6));
    client.Disconnect();
    ASSERT_TRUE(client.Connect(LOOPBACK));
    ASSERT_TRUE(WaitPending(client, 12));
    client.WaitReply(0);
    EXPECT_EQ(client.GetLines(), Lines{"Login:Login:"});
    // Connect on a connected client replaces the connection and its receive thread.
    ASSERT_TRUE(client.Connect(LOOPBACK));
    ASSERT_TRUE(WaitPending(client, 6));
}
