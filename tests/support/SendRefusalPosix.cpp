#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "tests/support/SendRefusal.h"

namespace {

std::atomic<int> g_RefusedPort{-1};
std::atomic<size_t> g_MinLength{0};
std::atomic<int> g_Refused{0};

bool IsRefused(int fd, size_t length, const sockaddr* to)
{
    const int port = g_RefusedPort.load();
    if (port < 0 || length < g_MinLength.load())
        return false;
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    if (to != nullptr) {
        if (to->sa_family != AF_INET)
            return false;
        std::memcpy(&peer, to, sizeof peer);
    } else if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 || peer.sin_family != AF_INET) {
        return false;
    }
    return ntohs(peer.sin_port) == port && peer.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
}

} // namespace

// Every sendto of the test program comes here first (the program's definition is found
// before the C library's); all but the refused ones go on to the C library.
extern "C" ssize_t sendto(int fd, const void* data, size_t length, int flags, const sockaddr* to, socklen_t toLength)
{
    using Real = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "sendto"));
    if (IsRefused(fd, length, to)) {
        ++g_Refused;
        errno = EPERM;
        return -1;
    }
    return real(fd, data, length, flags, to, toLength);
}

namespace kivtest {

SendRefusal::SendRefusal(uint16_t peerPort, size_t minLength)
{
    g_Refused = 0;
    g_MinLength = minLength;
    g_RefusedPort = peerPort;
}

SendRefusal::~SendRefusal() { g_RefusedPort = -1; }

int SendRefusal::Refused() const { return g_Refused.load(); }

} // namespace kivtest
