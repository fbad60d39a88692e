#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "log/ErrorText.h"
#include "net/CTcpPort.h"
#include "net/CWsaEvent.h"
#include "platform/Clock.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScopedTimeScale.h"
#include "tests/support/SilentPort.h"
#include "tests/support/TcpListener.h"
#include "tests/support/Wait.h"

using namespace kivtest;

namespace {

// A port connected to a fresh listener, with the accepted end in `peer`.
struct Connected {
    TcpListener listener;
    CTcpPort port;
    CSocketHandle peer;

    explicit Connected(int receiveBuffer = 0) : listener(receiveBuffer)
    {
        EXPECT_TRUE(port.SetConfig(LOOPBACK, listener.Port()));
        EXPECT_TRUE(port.Open());
        peer = listener.Accept();
        EXPECT_TRUE(peer.Valid());
    }
};

// A listener whose accept queue is full drops new connection requests, so a connect to it
// waits for the system's connect time-out (minutes) unless the port's own ends it.
struct FullListener {
    TcpListener listener{0, 1};
    std::vector<CSocketHandle> fillers;

    FullListener()
    {
        for (int i = 0; i < 4; ++i)
            fillers.push_back(StartConnection(LoopbackAddress(listener.Port())));
    }
};

} // namespace

TEST(TcpPort, ConfigurationAndLifecycle)
{
    CTcpPort port;
    EXPECT_EQ(port.GetPortType(), 2); // the TCP port type code
    EXPECT_FALSE(port.Reserved());
    EXPECT_TRUE(port.Close()); // never opened
    const std::error_code earlier = SocketError(SocketErrc::PermissionDenied);
    port.SetLastError(earlier);
    for (const char* bad : {"256.1.1.1", "localhost", "255.255.255.255", "127.1", "1.2.3.4.5", "", " 127.0.0.1",
                            "0x7f.0.0.1", "127.0.0.1 but longer than 24", "127.0.0.01"}) {
        SetLastSocketError({});
        EXPECT_FALSE(port.SetConfig(bad, 1)) << bad;
        EXPECT_EQ(LastSocketError(), SocketError(SocketErrc::InvalidArgument)) << bad;
    }
    EXPECT_EQ(port.LastError(), earlier);
    // The refused address left 0.0.0.0 behind: Open fails and the port stays closed.
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.IsOpen());

    // Nothing listens on a port that is bound but not listening.
    SilentPort nobody;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, nobody.Port()));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.LastError(), SocketError(SocketErrc::ConnectionRefused));
    EXPECT_FALSE(port.IsOpen());

    // Write and Read on a closed port fail without touching the error; Read pauses.
    port.SetLastError(earlier);
    EXPECT_FALSE(port.Write("x", 1, 100));
    uint32_t count = 9;
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(port.Read(&count, 1, &count, 100));
    EXPECT_GE(TicksSince(start), 90u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.LastError(), earlier);
}

TEST(TcpPort, OpenOnOpenPortReplacesTheConnection)
{
    Connected c;
    ASSERT_TRUE(c.port.Open());
    CSocketHandle second = c.listener.Accept();
    ASSERT_TRUE(second.Valid());
    EXPECT_TRUE(PeerClosed(c.peer.Get()));
    ASSERT_TRUE(c.port.Write("new", 3, 1000));
    EXPECT_EQ(ReceiveBytes(second.Get(), 3), "new");
    EXPECT_TRUE(c.port.Close());
    EXPECT_FALSE(c.port.IsOpen());
    EXPECT_TRUE(c.port.Close());
}

TEST(TcpPort, WritesAndReadsBothWays)
{
    Connected c;
    c.port.SetLastError(WaitCode::TimedOut);
    EXPECT_TRUE(c.port.Write(nullptr, 0, 100)); // nothing to send
    EXPECT_FALSE(c.port.LastError());
    ASSERT_TRUE(c.port.Write("hello", 5, 1000));
    EXPECT_EQ(ReceiveBytes(c.peer.Get(), 5), "hello");

    ASSERT_TRUE(SendAll(c.peer.Get(), "world!", 6));
    char buf[16] = {};
    uint32_t count = 0;
    uint32_t got = 0;
    while (got < 6 && c.port.Read(buf + got, sizeof buf - got, &count, 2000))
        got += count;
    EXPECT_EQ(std::string(buf, got), "world!");
    EXPECT_FALSE(c.port.LastError());
}

TEST(TcpPort, LargeWriteGoesOutInSeveralSendsToASlowReader)
{
    Connected c(4096);
    std::string data(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 12));
    std::string received;
    std::thread reader([&] {
        // Small reads: the port's sends block many times before the data is through.
        while (received.size() < data.size()) {
            std::string part = ReceiveBytes(c.peer.Get(), std::min<size_t>(1500, data.size() - received.size()));
            if (part.empty())
                break;
            received += part;
        }
    });
    EXPECT_TRUE(c.port.Write(data.data(), static_cast<uint32_t>(data.size()), 200000));
    reader.join();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

TEST(TcpPort, ReadTimesOutWith258AfterWaitAndPause)
{
    Connected c;
    uint32_t count = 7;
    char b;
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(c.port.Read(&b, 1, &count, 500));
    const uint32_t elapsed = TicksSince(start);
    EXPECT_EQ(c.port.LastError(), WaitCode::TimedOut);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(elapsed, 590u);
    EXPECT_TRUE(c.port.IsOpen());
}

TEST(TcpPort, PurgeEndsAnInfiniteReadOnAnotherThread)
{
    Connected c;
    bool result = true;
    uint32_t count = 5;
    std::thread reader([&] {
        char b;
        result = c.port.Read(&b, 1, &count, INFINITE);
    });
    // Whether the purge comes before or during the wait, it ends this read.
    EXPECT_TRUE(c.port.Purge());
    reader.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(c.port.LastError(), WaitCode::Purged);
    // The signal was consumed: the next read waits normally.
    char b;
    EXPECT_FALSE(c.port.Read(&b, 1, &count, 50));
    EXPECT_EQ(c.port.LastError(), WaitCode::TimedOut);
}

TEST(TcpPort, PurgeWithoutReaderEndsTheNextWaitingReadButDataWins)
{
    Connected c;
    EXPECT_TRUE(c.port.Purge());
    // Data present: the read delivers it and the purge signal stays set.
    ASSERT_TRUE(SendAll(c.peer.Get(), "d", 1));
    char b = 0;
    uint32_t count = 0;
    ASSERT_TRUE(c.port.Read(&b, 1, &count, 5000));
    EXPECT_EQ(b, 'd');
    // The next read has to wait: it ends at once with 1, before its time-out.
    const uint32_t start = GetTickCount();
    EXPECT_FALSE(c.port.Read(&b, 1, &count, 60000));
    EXPECT_EQ(c.port.LastError(), WaitCode::Purged);
    EXPECT_LT(TicksSince(start), 60000u);
    // The one after it waits normally.
    EXPECT_FALSE(c.port.Read(&b, 1, &count, 50));
    EXPECT_EQ(c.port.LastError(), WaitCode::TimedOut);
}

TEST(TcpPort, GracefulCloseGivesZeroByteReadsWithoutReconnecting)
{
    Connected c;
    c.peer.Reset();
    for (int i = 0; i < 2; ++i) {
        uint32_t count = 3;
        char b;
        const uint32_t start = GetTickCount();
        EXPECT_FALSE(c.port.Read(&b, 1, &count, 5000));
        EXPECT_GE(TicksSince(start), 1490u);
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(c.port.IsOpen());
    }
    EXPECT_FALSE(c.listener.Accept(100).Valid()); // no new connection
}

TEST(TcpPort, ResetDuringWriteReconnectsOnce)
{
    Connected c;
    ResetConnection(c.peer);
    // The reset reaches the port: the send fails, one reconnection, 100 ms pause.
    const std::string block(64 * 1024, 'x');
    bool ok = true;
    const uint32_t start = GetTickCount();
    for (int i = 0; i < 100 && ok; ++i)
        ok = c.port.Write(block.data(), static_cast<uint32_t>(block.size()), 1000);
    ASSERT_FALSE(ok);
    EXPECT_GE(TicksSince(start), 90u);
    EXPECT_TRUE(c.port.LastError() == SocketError(SocketErrc::ConnectionReset) ||
                c.port.LastError() == SocketError(SocketErrc::BrokenPipe))
        << c.port.LastError().value();
    CSocketHandle second = c.listener.Accept();
    ASSERT_TRUE(second.Valid());
    EXPECT_FALSE(c.listener.Accept(100).Valid()); // exactly one reconnection
    // The new connection carries the next write.
    ASSERT_TRUE(c.port.Write("again", 5, 1000));
    EXPECT_FALSE(c.port.LastError());
    EXPECT_EQ(ReceiveBytes(second.Get(), 5), "again");
}

TEST(TcpPort, ResetDuringReadReconnects)
{
    Connected c;
    ResetConnection(c.peer);
    uint32_t count = 0;
    char b;
    EXPECT_FALSE(c.port.Read(&b, 1, &count, 5000));
    EXPECT_EQ(c.port.LastError(), SocketError(SocketErrc::ConnectionReset));
    CSocketHandle second = c.listener.Accept();
    ASSERT_TRUE(second.Valid());
    ASSERT_TRUE(SendAll(second.Get(), "r", 1));
    EXPECT_TRUE(c.port.Read(&b, 1, &count, 5000));
    EXPECT_EQ(b, 'r');
}

// Reads without a time-out on another thread once `ready` is set (so that, when the test
// waits for `ready`, the read is almost always already waiting on the socket).
struct InfiniteReader {
    std::atomic<bool> ready{false};
    bool result = true;
    std::thread thread;

    explicit InfiniteReader(CTcpPort& port)
        : thread([this, &port] {
              char b;
              uint32_t count = 0;
              ready = true;
              result = port.Read(&b, 1, &count, INFINITE);
          })
    {
        EXPECT_TRUE(WaitFor([this] { return ready.load(); }));
    }
    bool Result()
    {
        thread.join();
        return result;
    }
};

TEST(TcpPort, CloseAndShutdownFromAnotherThreadEndAnInfiniteRead)
{
    Connected c;
    // Shutdown ends a read that waits (Wine leaves such a receive pending) and one that
    // follows it.
    InfiniteReader waiting(c.port);
    EXPECT_TRUE(c.port.Shutdown());
    EXPECT_FALSE(waiting.Result());
    EXPECT_EQ(c.port.LastError(), SocketError(SocketErrc::ShutDown));
    InfiniteReader following(c.port);
    EXPECT_FALSE(following.Result());
    EXPECT_EQ(c.port.LastError(), SocketError(SocketErrc::ShutDown));

    // The next connection is not shut down; Close ends a read on it.
    ASSERT_TRUE(c.port.Open());
    CSocketHandle second = c.listener.Accept();
    InfiniteReader closed(c.port);
    EXPECT_TRUE(c.port.Close());
    EXPECT_FALSE(closed.Result());
    EXPECT_FALSE(c.port.IsOpen());
}

TEST(TcpPort, ResetRacingWithCloseNeverRevivesTheConnection)
{
    TcpListener listener;
    CTcpPort port;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, listener.Port()));
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(port.Open());
        CSocketHandle peer = listener.Accept();
        ASSERT_TRUE(peer.Valid());
        std::thread reader([&] {
            char b;
            uint32_t count;
            while (port.IsOpen())
                port.Read(&b, 1, &count, INFINITE);
        });
        std::thread writer([&] { port.Write("w", 1, 1000); });
        ResetConnection(peer);
        // A reconnection that won the race is closed here; one that lost never happens.
        port.Close();
        writer.join();
        reader.join();
        EXPECT_FALSE(port.IsOpen());
        while (listener.Accept(0).Valid()) {
        }
    }
}

TEST(TcpPort, CloseAbortsAConnectionAttemptThatHangs)
{
    FullListener full;
    CTcpPort port;
    ASSERT_TRUE(port.SetConfig(LOOPBACK, full.listener.Port()));
    port.SetConnectTimeout(INFINITE); // only the Close ends it
    std::atomic<bool> done{false};
    bool opened = true;
    std::thread opener([&] {
        opened = port.Open();
        done = true;
    });
    // Reads meanwhile keep to their own time-out instead of waiting for the connection:
    // once the attempt is under way, a read ends with 258 although the port is closed.
    std::atomic<bool> readTimedOut{false};
    std::atomic<bool> stopReading{false};
    std::thread reader([&] {
        char b;
        uint32_t count;
        while (!readTimedOut && !stopReading) {
            port.Read(&b, 1, &count, 100);
            readTimedOut = port.LastError() == WaitCode::TimedOut;
        }
    });
    EXPECT_TRUE(WaitFor([&] { return readTimedOut.load(); }));
    stopReading = true;
    // Close until the attempt has given up (a Close before the attempt starts misses it).
    // The system's own connect time-out is minutes: the attempt must end long before.
    const bool ended = WaitFor(
        [&] {
            EXPECT_TRUE(port.Close());
            return done.load();
        },
        30000);
    opener.join();
    reader.join();
    EXPECT_TRUE(ended) << "the connection attempt outlived the Close calls";
    EXPECT_FALSE(opened);
    EXPECT_EQ(port.LastError(), SocketError(SocketErrc::Cancelled));
    EXPECT_FALSE(port.IsOpen());
}

// The connection gets the owner's time-out, and a stop request (the cancel handle) ends it at
// once, without a time-out of its own.
TEST(TcpPort, AConnectionAttemptThatHangsEndsAtItsTimeOutOrAtAStop)
{
    ScopedTimeScale scale(0.25); // the bounds below apart in real time, too
    FullListener full;
    CTcpPort timed;
    ASSERT_TRUE(timed.SetConfig(LOOPBACK, full.listener.Port()));
    timed.SetConnectTimeout(1000);
    uint32_t start = GetTickCount();
    EXPECT_FALSE(timed.Open());
    uint32_t took = TicksSince(start);
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(timed.LastError(), SocketError(SocketErrc::TimedOut));

    CWsaEvent stop;
    CTcpPort stopped;
    ASSERT_TRUE(stopped.SetConfig(LOOPBACK, full.listener.Port()));
    stopped.SetConnectTimeout(INFINITE);
    stopped.SetCancelHandle(&stop);
    std::thread stopper([&stop] {
        Sleep(500);
        stop.Set();
    });
    start = GetTickCount();
    EXPECT_FALSE(stopped.Open());
    took = TicksSince(start);
    stopper.join();
    EXPECT_GE(took, 500u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(stopped.LastError(), SocketError(SocketErrc::Cancelled));
    EXPECT_FALSE(stopped.IsOpen());
}

// A wait code and a system error of the same number stay apart, in the port's last error
// and in their texts: a send the system refuses (EPERM, 1; on Windows error 1 is
// ERROR_INVALID_FUNCTION) never reads as a purge request (also 1).
TEST(TransportErrors, WaitCodesAndSystemErrorsKeepTheirKindAndText)
{
    struct Case {
        std::error_code error;
        int number;
        const char* text; // a piece of GetErrorText's text
    };
    const std::error_code systemOne(1, std::system_category());
    for (const Case& c : {Case{WaitCode::TimedOut, 258, "The wait operation timed out."},
                          Case{WaitCode::Purged, 1, "The wait was ended by a purge request."},
                          Case{WaitCode::IoCompletion, 192, "An I/O completion routine was queued."},
                          Case{systemOne, 1, ""}, Case{SocketError(SocketErrc::PermissionDenied), 0, ""}}) {
        CTcpPort port;
        port.SetLastError(c.error);
        EXPECT_EQ(port.LastError(), c.error) << c.error.message();
        EXPECT_EQ(port.LastError().category(), c.error.category()) << c.error.message();
        if (c.number != 0) {
            EXPECT_EQ(port.LastError().value(), c.number);
        }
        const std::string text = GetErrorText(port.LastError());
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << text;
        if (*c.text != '\0') {
            EXPECT_EQ(text, std::string(c.text) + "\r\n");
        } else {
            EXPECT_EQ(text.find("purge"), std::string::npos) << text;
        }
    }
    EXPECT_NE(std::error_code(WaitCode::Purged), systemOne);
}
