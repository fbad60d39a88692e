#include "NetTestPeers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>

#include "platform/Clock.h"

namespace nettest {

namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool WaitReadable(int fd, int waitMs, int stopFd = -1)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    int rc;
    do {
        rc = poll(fds, stopFd >= 0 ? 2 : 1, waitMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && fds[0].revents != 0;
}

sockaddr_in LoopbackAddr(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

uint16_t BoundPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

} // namespace

std::string Loopback() { return "127.0.0.1"; }

TcpListener::TcpListener(int receiveBuffer, int backlog) : m_fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    if (receiveBuffer > 0)
        setsockopt(m_fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a = LoopbackAddr(0);
    bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(m_fd.Get(), backlog);
    m_port = BoundPort(m_fd.Get());
}

UniqueFd TcpListener::Accept(int waitMs)
{
    if (!WaitReadable(m_fd.Get(), waitMs))
        return UniqueFd();
    return UniqueFd(accept4(m_fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

void ResetConnection(UniqueFd& fd)
{
    linger l{1, 0};
    setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd.Reset();
}

bool SendAll(int fd, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

std::string ReceiveBytes(int fd, size_t n, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::string out;
    char buf[65536];
    while (out.size() < n && WaitReadable(fd, MsLeft(deadline))) {
        const ssize_t k = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (k <= 0)
            break;
        out.append(buf, static_cast<size_t>(k));
    }
    return out;
}

bool PeerClosed(int fd, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char buf[4096];
    while (WaitReadable(fd, MsLeft(deadline))) {
        const ssize_t k = recv(fd, buf, sizeof buf, 0);
        if (k == 0 || (k < 0 && errno != EINTR))
            return true;
    }
    return false;
}

UdpPeer::UdpPeer() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in a = LoopbackAddr(0);
    bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    m_port = BoundPort(m_fd.Get());
}

bool UdpPeer::Receive(std::string& data, sockaddr_in& from, int waitMs)
{
    if (!WaitReadable(m_fd.Get(), waitMs))
        return false;
    char buf[65536];
    socklen_t len = sizeof from;
    const ssize_t k = recvfrom(m_fd.Get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (k < 0)
        return false;
    data.assign(buf, static_cast<size_t>(k));
    return true;
}

bool UdpPeer::SendTo(const sockaddr_in& to, const std::string& data)
{
    return sendto(m_fd.Get(), data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(data.size());
}

FakeRouterShell::FakeRouterShell() : m_Thread([this] { Serve(); }) {}

FakeRouterShell::~FakeRouterShell()
{
    m_Stop.Set();
    m_Thread.join();
}

void FakeRouterShell::SetAnswer(const std::string& command, const std::string& answer)
{
    std::lock_guard lock(m_Lock);
    m_Answers[command] = answer;
}

void FakeRouterShell::SetRawAnswer(const std::string& command, const std::string& raw)
{
    std::lock_guard lock(m_Lock);
    m_RawAnswers[command] = raw;
}

std::vector<uint8_t> FakeRouterShell::OptionBytes() const
{
    std::lock_guard lock(m_Lock);
    return m_Options;
}

void FakeRouterShell::Serve()
{
    for (;;) {
        pollfd fds[2] = {{m_Listener.Fd(), POLLIN, 0}, {m_Stop.Handle(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        UniqueFd conn = m_Listener.Accept(0);
        if (!conn.Valid())
            continue;
        ++m_nConnections;
        ServeConnection(conn.Get());
    }
}

bool FakeRouterShell::ReadLine(int fd, std::string& line)
{
    line.clear();
    for (;;) {
        if (!WaitReadable(fd, -1, m_Stop.Handle()))
            return false;
        char c;
        if (recv(fd, &c, 1, 0) != 1)
            return false;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        line.push_back(c);
    }
}

bool FakeRouterShell::ServeConnection(int fd)
{
    // The four option requests come first: 12 bytes.
    std::string options = ReceiveBytes(fd, 12, 2000);
    {
        std::lock_guard lock(m_Lock);
        if (m_Options.empty())
            m_Options.assign(options.begin(), options.end());
    }
    const std::string login = "Login:";
    if (!SendAll(fd, login.data(), login.size()))
        return false;
    std::string line;
    if (!ReadLine(fd, line))
        return false;
    const std::string password = "\r\nPassword:";
    if (!SendAll(fd, password.data(), password.size()) || !ReadLine(fd, line))
        return false;
    std::string prompt = "\r\nrouter#";
    if (!SendAll(fd, prompt.data(), prompt.size()))
        return false;
    while (ReadLine(fd, line)) {
        if (line == "quit")
            return true;
        std::string reply;
        {
            std::lock_guard lock(m_Lock);
            if (auto raw = m_RawAnswers.find(line); raw != m_RawAnswers.end())
                reply = raw->second;
            else if (auto it = m_Answers.find(line); it != m_Answers.end())
                reply = "\r\n" + it->second + prompt;
            else
                reply = "\r\nunknown command" + prompt;
        }
        if (!SendAll(fd, reply.data(), reply.size()))
            return false;
    }
    return true;
}

} // namespace nettest

namespace {
// Unit tests run time-scaled unless the caller chose a scale.
const bool kScaled = [] {
    if (std::getenv("KIV_TIME_SCALE") == nullptr)
        SetTimeScale(0.05);
    return true;
}();
} // namespace
