#pragma once

// Peers on 127.0.0.1 (ephemeral ports) that the transport tests talk to.

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CPollableEvent.h"
#include "platform/UniqueFd.h"

namespace nettest {

// Real-time deadline for waits in test code (not scaled: it only guards against hangs).
constexpr int kGuardMs = 10000;

std::string Loopback();

// Listening TCP socket on 127.0.0.1. Connections complete in the backlog, so a port's
// Open() returns before the test accepts.
class TcpListener {
public:
    explicit TcpListener(int receiveBuffer = 0, int backlog = 8);
    uint16_t Port() const { return m_port; }
    int Fd() const { return m_fd.Get(); }
    // Next connection, or an invalid fd when none arrives within `waitMs` real ms.
    UniqueFd Accept(int waitMs = kGuardMs);

private:
    UniqueFd m_fd;
    uint16_t m_port = 0;
};

// Sends a reset instead of a graceful close (linger with a zero time-out).
void ResetConnection(UniqueFd& fd);
bool SendAll(int fd, const void* data, size_t n);
// Reads until `n` bytes arrived, the peer closed, or `waitMs` real ms passed.
std::string ReceiveBytes(int fd, size_t n, int waitMs = kGuardMs);
// True when the peer closed its side (read returns 0) within `waitMs`.
bool PeerClosed(int fd, int waitMs = kGuardMs);

// UDP socket bound to 127.0.0.1.
class UdpPeer {
public:
    UdpPeer();
    uint16_t Port() const { return m_port; }
    // One datagram (its sender in `from`); false when none arrives in time.
    bool Receive(std::string& data, sockaddr_in& from, int waitMs = kGuardMs);
    bool SendTo(const sockaddr_in& to, const std::string& data);

private:
    UniqueFd m_fd;
    uint16_t m_port = 0;
};

// A fake router shell on 127.0.0.1: "Login:", "Password:", then a "router#" prompt that
// answers commands from a table. One connection at a time, on its own thread.
class FakeRouterShell {
public:
    FakeRouterShell();
    ~FakeRouterShell();
    uint16_t Port() const { return m_Listener.Port(); }
    // Answer text for a command line (without CR LF); sent as is, then "\r\nrouter#".
    void SetAnswer(const std::string& command, const std::string& answer);
    // Raw text to send instead of the answer and prompt.
    void SetRawAnswer(const std::string& command, const std::string& raw);
    // Option bytes the client sent right after connecting (first connection).
    std::vector<uint8_t> OptionBytes() const;
    int Connections() const { return m_nConnections; }

private:
    void Serve();
    bool ServeConnection(int fd);
    bool ReadLine(int fd, std::string& line);

    TcpListener m_Listener;
    CPollableEvent m_Stop;
    mutable std::mutex m_Lock;
    std::map<std::string, std::string> m_Answers;
    std::map<std::string, std::string> m_RawAnswers;
    std::vector<uint8_t> m_Options;
    std::atomic<int> m_nConnections{0};
    std::thread m_Thread;
};

} // namespace nettest
