// The socket layer on POSIX: non-blocking sockets, and one wait (poll) on the socket and the
// wake events' descriptors until the deadline.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/Socket.h"
#include "platform/CDeadline.h"

namespace {

constexpr size_t MAX_WAKES = 4;

std::error_code SystemError(int err) { return {err, std::system_category()}; }

std::error_code Errno() { return SystemError(errno); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& address) { return {address.sin_addr.s_addr, ntohs(address.sin_port)}; }

// Waits until `socket` is ready for `events`, a wake event is set, or the deadline passes.
// No error: the socket is ready (also when a wake event is set beside it).
std::error_code WaitForSocket(int socket, short events, const CDeadline& deadline, SocketWakes wakes)
{
    pollfd fds[1 + MAX_WAKES] = {{socket, events, 0}};
    nfds_t count = 1;
    for (const SocketWake& wake : wakes) {
        if (count <= MAX_WAKES)
            fds[count++] = {wake.event != nullptr ? wake.event->Handle() : -1, POLLIN, 0}; // -1 is skipped
    }
    for (;;) {
        const int rc = ::poll(fds, count, deadline.RealWaitMs());
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return Errno();
        if (rc == 0)
            return WaitCode::TimedOut;
        if (fds[0].revents != 0)
            return {};
        nfds_t index = 1;
        for (const SocketWake& wake : wakes) {
            if (index < count && (fds[index++].revents & POLLIN) != 0)
                return wake.reason;
        }
    }
}

// Runs `attempt` (a non-blocking call returning a count, or -1 with errno) until it does
// not have to wait, waiting for `events` in between.
template <class Attempt>
SocketTransfer Transfer(int socket, short events, const CDeadline& deadline, SocketWakes wakes, Attempt attempt)
{
    SocketTransfer result;
    for (;;) {
        const ssize_t n = attempt();
        if (n >= 0) {
            result.count = static_cast<uint32_t>(n);
            return result;
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (err != EAGAIN && err != EWOULDBLOCK) {
            result.error = SystemError(err);
            return result;
        }
        // Ready, yet nothing to take: the time that is left decides.
        if (result.waited && deadline.Passed()) {
            result.error = WaitCode::TimedOut;
            return result;
        }
        result.error = WaitForSocket(socket, events, deadline, wakes);
        if (result.error)
            return result;
        result.waited = true;
    }
}

} // namespace

std::error_code SocketError(SocketErrc condition)
{
    switch (condition) {
    case SocketErrc::ConnectionRefused: return SystemError(ECONNREFUSED);
    case SocketErrc::ConnectionReset: return SystemError(ECONNRESET);
    case SocketErrc::ConnectionAborted: return SystemError(ECONNABORTED);
    case SocketErrc::BrokenPipe: return SystemError(EPIPE);
    case SocketErrc::Cancelled: return SystemError(ECANCELED);
    case SocketErrc::TimedOut: return SystemError(ETIMEDOUT);
    case SocketErrc::InvalidArgument: return SystemError(EINVAL);
    case SocketErrc::MessageTooLong: return SystemError(EMSGSIZE);
    case SocketErrc::ShutDown: return SystemError(ESHUTDOWN);
    case SocketErrc::NoSuchDevice: return SystemError(ENODEV);
    case SocketErrc::PermissionDenied: return SystemError(EPERM);
    }
    return SystemError(EINVAL);
}

std::error_code LastSocketError() { return Errno(); }

void SetLastSocketError(std::error_code error) { errno = error.value(); }

CSocketLibrary::CSocketLibrary() = default;

CSocketLibrary::~CSocketLibrary() = default;

std::error_code CloseSocket(NativeSocket socket)
{
    // Linux releases the descriptor even when close() reports an error (EINTR included).
    if (::close(socket) != 0 && errno != EINTR)
        return Errno();
    return {};
}

std::error_code OpenSocket(SocketType type, CSocketHandle& socket)
{
    const bool stream = type == SocketType::Stream;
    socket.Reset(::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          stream ? 0 : IPPROTO_UDP));
    return socket.Valid() ? std::error_code() : Errno();
}

std::error_code EnableBroadcast(NativeSocket socket)
{
    const int one = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) == 0 ? std::error_code() : Errno();
}

bool IsBroadcastEnabled(NativeSocket socket)
{
    int value = 0;
    socklen_t length = sizeof value;
    return ::getsockopt(socket, SOL_SOCKET, SO_BROADCAST, &value, &length) == 0 && value != 0;
}

std::error_code ConnectSocket(NativeSocket socket, const Ipv4Endpoint& peer, const CDeadline& deadline,
                              SocketWakes wakes)
{
    const sockaddr_in address = ToSockaddr(peer);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return {};
    if (errno != EINPROGRESS && errno != EINTR)
        return Errno();
    for (;;) {
        if (deadline.Passed())
            return SocketError(SocketErrc::TimedOut);
        const std::error_code waited = WaitForSocket(socket, POLLOUT, deadline, wakes);
        if (waited == WaitCode::TimedOut)
            continue; // the deadline decides whether the time is up
        if (waited)
            return waited;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return Errno();
        return error == 0 ? std::error_code() : SystemError(error);
    }
}

std::error_code ConnectDatagramSocket(NativeSocket socket, const Ipv4Endpoint& peer)
{
    const sockaddr_in address = ToSockaddr(peer);
    return ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? std::error_code()
                                                                                               : Errno();
}

bool IsSocketBound(NativeSocket socket)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    return ::getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_port != 0;
}

SocketTransfer SendOnSocket(NativeSocket socket, const void* data, uint32_t length, const CDeadline& deadline,
                            SocketWakes wakes, const Ipv4Endpoint* to)
{
    const sockaddr_in address = to != nullptr ? ToSockaddr(*to) : sockaddr_in{};
    return Transfer(socket, POLLOUT, deadline, wakes, [&] {
        return ::sendto(socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
                        to != nullptr ? reinterpret_cast<const sockaddr*>(&address) : nullptr,
                        to != nullptr ? sizeof address : 0);
    });
}

SocketTransfer ReceiveOnSocket(NativeSocket socket, void* buffer, uint32_t size, const CDeadline& deadline,
                               SocketWakes wakes, Ipv4Endpoint* from)
{
    sockaddr_in sender{};
    bool truncated = false;
    SocketTransfer result = Transfer(socket, POLLIN, deadline, wakes, [&] {
        iovec part{buffer, size};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(socket, &message, MSG_DONTWAIT);
        truncated = n >= 0 && (message.msg_flags & MSG_TRUNC) != 0;
        return n;
    });
    if (from != nullptr && !result.error)
        *from = FromSockaddr(sender);
    if (truncated)
        result.error = SocketError(SocketErrc::MessageTooLong);
    return result;
}

std::error_code ShutdownSocket(NativeSocket socket)
{
    return ::shutdown(socket, SHUT_RDWR) == 0 ? std::error_code() : Errno();
}

const SocketCallNames& SocketCalls()
{
    static const SocketCallNames names{"poll", "send", "recv", "connect"};
    return names;
}
