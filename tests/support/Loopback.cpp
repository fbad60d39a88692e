#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace kivtest {

namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits for `events` on `fd`; false on time-out, error or a readable `stopFd`.
bool WaitFor(int fd, short events, int waitMs, int stopFd)
{
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    int rc;
    do {
        rc = ::poll(fds, stopFd >= 0 ? 2 : 1, waitMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && fds[0].revents != 0 && (stopFd < 0 || fds[1].revents == 0);
}

} // namespace

sockaddr_in LoopbackAddress(uint16_t port, uint8_t lastOctet)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000000u | lastOctet);
    return address;
}

CUniqueFd BindLoopback(int type, uint16_t& port, uint8_t lastOctet)
{
    CUniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(port, lastOctet);
    if (!fd.Valid() || ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return CUniqueFd();
    port = BoundPort(fd.Get());
    return fd;
}

uint16_t BoundPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool WaitReadable(int fd, int waitMs, int stopFd) { return WaitFor(fd, POLLIN, waitMs, stopFd); }

bool SendAll(int fd, const void* data, size_t n, int waitMs, int stopFd)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, waitMs < 0 ? -1 : MsLeft(deadline), stopFd))
                return false;
            continue;
        }
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
    char buffer[65536];
    while (out.size() < n && WaitReadable(fd, MsLeft(deadline))) {
        const ssize_t k = ::recv(fd, buffer, std::min(sizeof buffer, n - out.size()), 0);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            break;
        out.append(buffer, static_cast<size_t>(k));
    }
    return out;
}

bool PeerClosed(int fd, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char buffer[4096];
    while (WaitReadable(fd, MsLeft(deadline))) {
        const ssize_t k = ::recv(fd, buffer, sizeof buffer, 0);
        if (k == 0 || (k < 0 && errno != EINTR))
            return true;
    }
    return false;
}

void ResetConnection(CUniqueFd& fd)
{
    linger option{1, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
    fd.Reset();
}

} // namespace kivtest
