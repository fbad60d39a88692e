#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "NetTestPeers.h"
#include "net/CLockedBuffer.h"
#include "net/CTelnetClient.h"
#include "platform/Clock.h"
#include "platform/UserFiles.h"

using namespace nettest;

namespace {

std::vector<std::string> Split(const std::string& text)
{
    return CTelnetClient::SplitReply(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

using Lines = std::vector<std::string>;

// Waits (real-time deadline) until at least `n` received bytes wait in the client.
bool WaitPending(const CTelnetClient& client, int n)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (client.PendingBytes() < n) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// Collects replies until their text contains `needle`; the text goes to `all`.
bool WaitForText(CTelnetClient& client, const std::string& needle, std::string& all)
{
    all.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (std::chrono::steady_clock::now() < deadline) {
        client.WaitReply(500);
        for (const std::string& line : client.GetLines())
            all += line;
        if (all.find(needle) != std::string::npos)
            return true;
    }
    return false;
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
    FakeRouterShell shell;
    shell.SetAnswer("nvram get cfe_version", "1.0.2");
    CTelnetClient client;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(Loopback()));
    ASSERT_TRUE(WaitPending(client, 6));

    const uint32_t start = GetTickCount();
    ASSERT_TRUE(client.WaitReply(100));
    EXPECT_GE(TicksSince(start), 495u); // the 500 ms floor
    EXPECT_EQ(client.GetLines(), Lines{"Login:"});
    EXPECT_EQ(client.FindLine(":"), 0);
    const std::vector<uint8_t> options{255, 251, 1, 255, 252, 33, 255, 253, 1, 255, 253, 3};
    EXPECT_EQ(shell.OptionBytes(), options);

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
    FakeRouterShell shell;
    shell.SetRawAnswer("prompt-first", "a#\r\nb");
    shell.SetRawAnswer("twice", "x1\r\nx2\r\n");
    shell.SetRawAnswer("big", std::string(3000, 'A'));
    CTelnetClient client;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(Loopback()));
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
    FakeRouterShell shell;
    shell.SetRawAnswer("flood", std::string(1 << 20, 'F'));
    CTelnetClient client;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(Loopback()));
    ASSERT_TRUE(Login(client));
    ASSERT_TRUE(client.SendText("flood\r\n", 1000));
    ASSERT_TRUE(WaitPending(client, CLockedBuffer::MAX_CAPACITY));
    EXPECT_EQ(client.PendingBytes(), CLockedBuffer::MAX_CAPACITY);
    client.WaitReply(0);
    EXPECT_EQ(client.GetLine(0).size(), 2045u);

    ASSERT_TRUE(client.SendText("quit\r\n", 1000));
    const uint32_t start = GetTickCount();
    client.Disconnect(); // joins the receive thread, even while it pauses
    EXPECT_LT(TicksSince(start), 60000u);
    EXPECT_FALSE(client.IsConnected());
}

TEST(TelnetClient, ConnectFailuresAndTextKeptAcrossReconnect)
{
    CTelnetClient client;
    EXPECT_FALSE(client.Connect("router.local"));
    EXPECT_FALSE(client.Connect("255.255.255.255"));
    {
        TcpListener gone;
        client.SetPortNumber(gone.Port());
    }
    EXPECT_FALSE(client.Connect(Loopback()));
    EXPECT_FALSE(client.IsConnected());

    FakeRouterShell shell;
    client.SetPortNumber(shell.Port());
    ASSERT_TRUE(client.Connect(Loopback()));
    ASSERT_TRUE(WaitPending(client, 6));
    client.Disconnect();
    ASSERT_TRUE(client.Connect(Loopback()));
    ASSERT_TRUE(WaitPending(client, 12));
    client.WaitReply(0);
    EXPECT_EQ(client.GetLines(), Lines{"Login:Login:"});
    // Connect on a connected client replaces the connection and its receive thread.
    ASSERT_TRUE(client.Connect(Loopback()));
    ASSERT_TRUE(WaitPending(client, 6));
}

namespace {

// busybox telnetd on a loopback port, logging in to a small shell script.
class BusyboxTelnetd {
public:
    BusyboxTelnetd()
    {
        if (access("/bin/busybox", X_OK) != 0)
            return;
        const std::string dir = GetTempDirectory();
        const std::string tag = std::to_string(getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this));
        m_Script = dir + "kiv-telnet-login-" + tag + ".sh";
        m_Issue = dir + "kiv-telnet-issue-" + tag;
        std::ofstream(m_Issue).close();
        std::ofstream script(m_Script);
        script << "#!/bin/sh\n"
                  "printf 'Login:'\n"
                  "read user\n"
                  "printf 'Password:'\n"
                  "read pass\n"
                  "printf 'router# '\n"
                  "while read line; do\n"
                  "  case \"$line\" in\n"
                  "    *cfe_version*) echo 'CFE 1.2.3' ;;\n"
                  "    *) echo \"unknown: $line\" ;;\n"
                  "  esac\n"
                  "  printf 'router# '\n"
                  "done\n";
        script.close();
        chmod(m_Script.c_str(), 0700);
        {
            TcpListener probe; // a free port, released again for telnetd
            m_Port = probe.Port();
        }
        const std::string port = std::to_string(m_Port);
        std::vector<std::string> args{"/bin/busybox", "telnetd", "-F", "-K", "-p", port, "-b",
                                      "127.0.0.1", "-l", m_Script, "-f", m_Issue};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_Pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            m_Pid = -1;
    }
    ~BusyboxTelnetd()
    {
        if (m_Pid > 0) {
            kill(m_Pid, SIGTERM);
            waitpid(m_Pid, nullptr, 0);
        }
        if (!m_Script.empty()) {
            std::remove(m_Script.c_str());
            std::remove(m_Issue.c_str());
        }
    }
    bool Running() const { return m_Pid > 0; }
    uint16_t Port() const { return m_Port; }

private:
    pid_t m_Pid = -1;
    uint16_t m_Port = 0;
    std::string m_Script;
    std::string m_Issue;
};

} // namespace

TEST(TelnetClient, NegotiatesAndLogsInOnBusyboxTelnetd)
{
    BusyboxTelnetd server;
    if (!server.Running())
        GTEST_SKIP() << "busybox telnetd is not available (package busybox-static)";
    CTelnetClient client;
    client.SetPortNumber(server.Port());
    // telnetd listens a moment after it starts: retry the connect until a deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    bool connected = false;
    while (!(connected = client.Connect(Loopback())) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(connected);

    std::string all;
    ASSERT_TRUE(WaitForText(client, "Login:", all)) << all;
    ASSERT_TRUE(client.SendText("admin\r\n", 1000));
    ASSERT_TRUE(WaitForText(client, "Password:", all)) << all;
    ASSERT_TRUE(client.SendText("tovex\r\n", 1000));
    ASSERT_TRUE(WaitForText(client, "router#", all)) << all;
    ASSERT_TRUE(client.SendText("nvram get cfe_version\r\n", 1000));
    ASSERT_TRUE(WaitForText(client, "CFE 1.2.3", all)) << all;
    client.Disconnect();
    EXPECT_FALSE(client.IsConnected());
}
