// The socket layer on Windows: Winsock 2. Sends and receives are overlapped requests, each
// with an event of its own, waited for with WSAWaitForMultipleEvents together with the wake
// events (the request's event first, so that a completed request wins over a wake event);
// a request still running when the wait ends is cancelled and waited for, so that it never
// touches the caller's buffer after the call has returned.
// Winsock 2 comes before the headers that build on it.
#include <winsock2.h>

#include <mswsock.h>
#include <ws2tcpip.h>

#include "net/Socket.h"
#include "platform/CDeadline.h"

namespace {

constexpr DWORD MAX_WAKES = 4;

std::error_code SystemError(int err) { return {err, std::system_category()}; }

std::error_code WsaError() { return SystemError(WSAGetLastError()); }

SOCKET Native(NativeSocket socket) { return static_cast<SOCKET>(socket); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

// Waits for `first` or a wake event until the deadline. No error: `first` is set (also when
// a wake event is set beside it).
std::error_code WaitForEvent(WSAEVENT first, const CDeadline& deadline, SocketWakes wakes)
{
    WSAEVENT events[1 + MAX_WAKES] = {first};
    std::error_code reasons[1 + MAX_WAKES];
    DWORD count = 1;
    for (const SocketWake& wake : wakes) {
        if (count <= MAX_WAKES && wake.event != nullptr && wake.event->IsValid()) {
            events[count] = wake.event->Handle();
            reasons[count++] = wake.reason;
        }
    }
    const int realMs = deadline.RealWaitMs();
    const DWORD result =
        WSAWaitForMultipleEvents(count, events, FALSE, realMs < 0 ? WSA_INFINITE : static_cast<DWORD>(realMs), FALSE);
    if (result == WSA_WAIT_EVENT_0)
        return {};
    if (result > WSA_WAIT_EVENT_0 && result < WSA_WAIT_EVENT_0 + count)
        return reasons[result - WSA_WAIT_EVENT_0];
    if (result == WSA_WAIT_TIMEOUT)
        return WaitCode::TimedOut;
    if (result == WSA_WAIT_IO_COMPLETION)
        return WaitCode::IoCompletion;
    return WsaError();
}

// One overlapped request: `start(overlapped, count)` issues it (WSASend, WSARecv and the
// like, returning their result). See the file comment for the wait and the cancellation.
template <class Start>
SocketTransfer Overlapped(NativeSocket socket, const CDeadline& deadline, SocketWakes wakes, Start start)
{
    SocketTransfer result;
    WSAOVERLAPPED overlapped{};
    overlapped.hEvent = WSACreateEvent();
    if (overlapped.hEvent == WSA_INVALID_EVENT) {
        result.error = WsaError();
        return result;
    }
    DWORD count = 0;
    if (start(&overlapped, &count) != 0) {
        const int err = WSAGetLastError();
        if (err != WSA_IO_PENDING) {
            result.error = SystemError(err);
        } else {
            result.waited = true;
            const std::error_code waited = WaitForEvent(overlapped.hEvent, deadline, wakes);
            if (waited)
                CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), &overlapped);
            DWORD flags = 0;
            if (WSAGetOverlappedResult(Native(socket), &overlapped, &count, TRUE, &flags) != FALSE)
                result.error = {}; // completed before the cancellation took: it counts
            else
                result.error = waited ? waited : WsaError();
        }
    }
    result.count = count;
    WSACloseEvent(overlapped.hEvent);
    return result;
}

} // namespace

std::error_code SocketError(SocketErrc condition)
{
    switch (condition) {
    case SocketErrc::ConnectionRefused: return SystemError(WSAECONNREFUSED);
    case SocketErrc::ConnectionReset: return SystemError(WSAECONNRESET);
    case SocketErrc::ConnectionAborted: return SystemError(WSAECONNABORTED);
    // Winsock reports a connection the peer has left as a reset; this stays a value it
    // never reports.
    case SocketErrc::BrokenPipe: return std::make_error_code(std::errc::broken_pipe);
    case SocketErrc::Cancelled: return SystemError(WSA_OPERATION_ABORTED);
    case SocketErrc::TimedOut: return SystemError(WSAETIMEDOUT);
    case SocketErrc::InvalidArgument: return SystemError(WSAEINVAL);
    case SocketErrc::MessageTooLong: return SystemError(WSAEMSGSIZE);
    case SocketErrc::ShutDown: return SystemError(WSAESHUTDOWN);
    case SocketErrc::NoSuchDevice: return SystemError(ERROR_DEV_NOT_EXIST);
    case SocketErrc::PermissionDenied: return SystemError(WSAEACCES);
    }
    return SystemError(WSAEINVAL);
}

std::error_code LastSocketError() { return WsaError(); }

void SetLastSocketError(std::error_code error) { WSASetLastError(error.value()); }

CSocketLibrary::CSocketLibrary()
{
    WSADATA data{};
    m_nError = WSAStartup(MAKEWORD(2, 2), &data);
    m_nVersion = data.wVersion;
}

CSocketLibrary::~CSocketLibrary()
{
    if (m_nError == 0)
        WSACleanup();
}

std::error_code CloseSocket(NativeSocket socket)
{
    return closesocket(Native(socket)) == 0 ? std::error_code() : WsaError();
}

std::error_code OpenSocket(SocketType type, CSocketHandle& socket)
{
    const bool stream = type == SocketType::Stream;
    socket.Reset(WSASocketW(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP, nullptr, 0,
                            WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!socket.Valid())
        return WsaError();
    if (!stream) {
        // A datagram refused by its destination (an ICMP message) would otherwise fail the
        // next receive of this socket, whoever it is waiting for.
        BOOL report = FALSE;
        DWORD returned = 0;
        WSAIoctl(Native(socket.Get()), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
                 nullptr);
    }
    return {};
}

std::error_code EnableBroadcast(NativeSocket socket)
{
    const BOOL one = TRUE;
    return setsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one) == 0
               ? std::error_code()
               : WsaError();
}

bool IsBroadcastEnabled(NativeSocket socket)
{
    BOOL value = FALSE;
    int length = sizeof value;
    return getsockopt(Native(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value), &length) == 0 &&
           value != FALSE;
}

namespace {

// Waits until the connection started on `socket` (its FD_CONNECT tied to `event`) is made
// or refused, a wake event is set, or the deadline passes.
std::error_code WaitForConnection(NativeSocket socket, WSAEVENT event, const CDeadline& deadline, SocketWakes wakes)
{
    for (;;) {
        if (deadline.Passed())
            return SocketError(SocketErrc::TimedOut);
        const std::error_code waited = WaitForEvent(event, deadline, wakes);
        if (waited == WaitCode::TimedOut)
            continue; // the deadline decides whether the time is up
        if (waited)
            return waited;
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(Native(socket), event, &events) != 0)
            return WsaError();
        if ((events.lNetworkEvents & FD_CONNECT) != 0) {
            const int error = events.iErrorCode[FD_CONNECT_BIT];
            return error == 0 ? std::error_code() : SystemError(error);
        }
    }
}

} // namespace

std::error_code ConnectSocket(NativeSocket socket, const Ipv4Endpoint& peer, const CDeadline& deadline,
                              SocketWakes wakes)
{
    // The connection is waited for as a network event of the socket (which makes it
    // non-blocking meanwhile); afterwards the socket is given back its blocking mode, in
    // which its overlapped requests run.
    const WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT)
        return WsaError();
    std::error_code result;
    const sockaddr_in address = ToSockaddr(peer);
    if (WSAEventSelect(Native(socket), event, FD_CONNECT) != 0) {
        result = WsaError();
    } else if (connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        result = WsaError();
        if (result.value() == WSAEWOULDBLOCK)
            result = WaitForConnection(socket, event, deadline, wakes);
    }
    WSAEventSelect(Native(socket), nullptr, 0);
    u_long nonBlocking = 0;
    ioctlsocket(Native(socket), FIONBIO, &nonBlocking);
    WSACloseEvent(event);
    return result;
}

std::error_code ConnectDatagramSocket(NativeSocket socket, const Ipv4Endpoint& peer)
{
    const sockaddr_in address = ToSockaddr(peer);
    return connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? std::error_code()
                                                                                                     : WsaError();
}

bool IsSocketBound(NativeSocket socket)
{
    sockaddr_in local{};
    int length = sizeof local;
    return getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_port != 0;
}

SocketTransfer SendOnSocket(NativeSocket socket, const void* data, uint32_t length, const CDeadline& deadline,
                            SocketWakes wakes, const Ipv4Endpoint* to)
{
    const sockaddr_in address = to != nullptr ? ToSockaddr(*to) : sockaddr_in{};
    return Overlapped(socket, deadline, wakes, [&](WSAOVERLAPPED* overlapped, DWORD* count) {
        WSABUF part{length, static_cast<char*>(const_cast<void*>(data))};
        if (to == nullptr)
            return WSASend(Native(socket), &part, 1, count, 0, overlapped, nullptr);
        return WSASendTo(Native(socket), &part, 1, count, 0, reinterpret_cast<const sockaddr*>(&address),
                         sizeof address, overlapped, nullptr);
    });
}

SocketTransfer ReceiveOnSocket(NativeSocket socket, void* buffer, uint32_t size, const CDeadline& deadline,
                               SocketWakes wakes, Ipv4Endpoint* from)
{
    // The sender's address is written when the request completes: it lives here, beyond the
    // request, which Overlapped always waits for.
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    DWORD flags = 0;
    SocketTransfer result = Overlapped(socket, deadline, wakes, [&](WSAOVERLAPPED* overlapped, DWORD* count) {
        WSABUF part{size, static_cast<char*>(buffer)};
        if (from == nullptr)
            return WSARecv(Native(socket), &part, 1, count, &flags, overlapped, nullptr);
        return WSARecvFrom(Native(socket), &part, 1, count, &flags, reinterpret_cast<sockaddr*>(&sender), &senderLength,
                           overlapped, nullptr);
    });
    if (from != nullptr && (!result.error || result.error.value() == WSAEMSGSIZE))
        *from = {sender.sin_addr.s_addr, ntohs(sender.sin_port)};
    return result;
}

std::error_code ShutdownSocket(NativeSocket socket)
{
    return shutdown(Native(socket), SD_BOTH) == 0 ? std::error_code() : WsaError();
}

const SocketCallNames& SocketCalls()
{
    static const SocketCallNames names{"WSAWaitForMultipleEvents", "WSASend", "WSARecv", "connect"};
    return names;
}
