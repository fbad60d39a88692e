#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tests/support/TestSockets.h"

namespace kivtest {

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

// When the kernel queued the datagram `message` came with (its SO_TIMESTAMPNS stamp), on
// the steady clock; now when it carries none. Peers that order datagrams among themselves
// then do not depend on how soon each peer's thread was scheduled.
std::chrono::steady_clock::time_point ArrivalTime(msghdr& message)
{
    const auto now = std::chrono::steady_clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto queued =
            std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        return now - (std::chrono::system_clock::now() - queued);
    }
    return now;
}

} // namespace

CSocketHandle BindLoopback(SocketType type, uint16_t& port, uint8_t lastOctet)
{
    CSocketHandle socket(::socket(AF_INET, (type == SocketType::Stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0));
    const sockaddr_in address = ToSockaddr({htonl(0x7F000000u | lastOctet), port});
    if (!socket.Valid() || ::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return CSocketHandle();
    port = BoundPort(socket.Get());
    return socket;
}

uint16_t BoundPort(NativeSocket socket)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool Listen(NativeSocket socket, int backlog) { return ::listen(socket, backlog) == 0; }

CSocketHandle AcceptConnection(NativeSocket listener)
{
    return CSocketHandle(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

CSocketHandle StartConnection(const Ipv4Endpoint& to)
{
    CSocketHandle socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_in address = ToSockaddr(to);
    ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return socket;
}

void SetNoDelay(NativeSocket socket)
{
    const int one = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetReceiveBuffer(NativeSocket socket, int bytes)
{
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void CloseWithReset(CSocketHandle& socket)
{
    linger option{1, 0};
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_LINGER, &option, sizeof option);
    socket.Reset();
}

long SendSome(NativeSocket socket, const void* data, size_t n, bool& wouldBlock)
{
    ssize_t k;
    do {
        k = ::send(socket, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (k < 0 && errno == EINTR);
    wouldBlock = k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    return static_cast<long>(k);
}

long ReceiveSome(NativeSocket socket, void* buffer, size_t size, bool& wouldBlock)
{
    ssize_t k;
    do {
        k = ::recv(socket, buffer, size, MSG_DONTWAIT);
    } while (k < 0 && errno == EINTR);
    wouldBlock = k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    return static_cast<long>(k);
}

bool SendDatagram(NativeSocket socket, const Ipv4Endpoint& to, const void* data, size_t n)
{
    const sockaddr_in address = ToSockaddr(to);
    return ::sendto(socket, data, n, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
           static_cast<ssize_t>(n);
}

void StampArrivals(NativeSocket socket)
{
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

bool ReceiveDatagram(NativeSocket socket, std::string& data, Ipv4Endpoint& from,
                     std::chrono::steady_clock::time_point& at)
{
    static thread_local std::vector<char> buffer(65536);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    sockaddr_in sender{};
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(socket, &message, MSG_DONTWAIT);
    if (n < 0)
        return false;
    data.assign(buffer.data(), static_cast<size_t>(n));
    from = {sender.sin_addr.s_addr, ntohs(sender.sin_port)};
    at = ArrivalTime(message);
    return true;
}

bool PollSockets(PollEntry* entries, size_t count, int waitMs)
{
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        entries[i].ready = false;
        fds[i] = {entries[i].socket, static_cast<short>(entries[i].write ? POLLOUT : POLLIN), 0};
    }
    int rc;
    do {
        rc = ::poll(fds.data(), fds.size(), waitMs); // a negative descriptor is skipped
    } while (rc < 0 && errno == EINTR);
    for (size_t i = 0; i < count; ++i)
        entries[i].ready = fds[i].revents != 0;
    return rc > 0;
}

StopSignal::StopSignal() : m_Socket(BindLoopback(SocketType::Datagram, m_nPort)) {}

void StopSignal::Set()
{
    const char byte = 0;
    SendDatagram(m_Socket.Get(), {htonl(0x7F000001u), m_nPort}, &byte, 1);
}

} // namespace kivtest
