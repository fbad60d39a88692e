#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

#include "tests/support/TestSockets.h"

namespace kivtest {

namespace {

SOCKET Native(NativeSocket socket) { return static_cast<SOCKET>(socket); }

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = endpoint.address;
    return address;
}

// Test sockets never block: every wait is a WSAPoll with a limit.
CSocketHandle NonBlocking(SOCKET socket)
{
    CSocketHandle handle(socket);
    u_long on = 1;
    if (handle.Valid() && ioctlsocket(socket, FIONBIO, &on) != 0)
        handle.Reset();
    return handle;
}

bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

} // namespace

CSocketHandle BindLoopback(SocketType type, uint16_t& port, uint8_t lastOctet)
{
    const bool stream = type == SocketType::Stream;
    CSocketHandle socket =
        NonBlocking(WSASocketW(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP, nullptr,
                               0, WSA_FLAG_NO_HANDLE_INHERIT));
    const sockaddr_in address = ToSockaddr({htonl(0x7F000000u | lastOctet), port});
    if (!socket.Valid() || bind(Native(socket.Get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return CSocketHandle();
    port = BoundPort(socket.Get());
    return socket;
}

uint16_t BoundPort(NativeSocket socket)
{
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool Listen(NativeSocket socket, int backlog) { return listen(Native(socket), backlog) == 0; }

CSocketHandle AcceptConnection(NativeSocket listener)
{
    return NonBlocking(accept(Native(listener), nullptr, nullptr));
}

CSocketHandle StartConnection(const Ipv4Endpoint& to)
{
    CSocketHandle socket =
        NonBlocking(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
    const sockaddr_in address = ToSockaddr(to);
    connect(Native(socket.Get()), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return socket;
}

void SetNoDelay(NativeSocket socket)
{
    const BOOL one = TRUE;
    setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

void SetReceiveBuffer(NativeSocket socket, int bytes)
{
    setsockopt(Native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

void CloseWithReset(CSocketHandle& socket)
{
    const linger option{1, 0};
    setsockopt(Native(socket.Get()), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
    socket.Reset();
}

long SendSome(NativeSocket socket, const void* data, size_t n, bool& wouldBlock)
{
    const int k = send(Native(socket), static_cast<const char*>(data), static_cast<int>(n), 0);
    wouldBlock = k == SOCKET_ERROR && WouldBlock();
    return k;
}

long ReceiveSome(NativeSocket socket, void* buffer, size_t size, bool& wouldBlock)
{
    const int k = recv(Native(socket), static_cast<char*>(buffer), static_cast<int>(size), 0);
    wouldBlock = k == SOCKET_ERROR && WouldBlock();
    return k;
}

bool SendDatagram(NativeSocket socket, const Ipv4Endpoint& to, const void* data, size_t n)
{
    const sockaddr_in address = ToSockaddr(to);
    return sendto(Native(socket), static_cast<const char*>(data), static_cast<int>(n), 0,
                  reinterpret_cast<const sockaddr*>(&address), sizeof address) == static_cast<int>(n);
}

// Winsock gives no arrival stamps: the peers take the time they read a datagram.
void StampArrivals(NativeSocket) {}

bool ReceiveDatagram(NativeSocket socket, std::string& data, Ipv4Endpoint& from,
                     std::chrono::steady_clock::time_point& at)
{
    static thread_local std::vector<char> buffer(65536);
    sockaddr_in sender{};
    int length = sizeof sender;
    const int n = recvfrom(Native(socket), buffer.data(), static_cast<int>(buffer.size()), 0,
                           reinterpret_cast<sockaddr*>(&sender), &length);
    if (n == SOCKET_ERROR)
        return false;
    data.assign(buffer.data(), static_cast<size_t>(n));
    from = {sender.sin_addr.s_addr, ntohs(sender.sin_port)};
    at = std::chrono::steady_clock::now();
    return true;
}

bool PollSockets(PollEntry* entries, size_t count, int waitMs)
{
    // WSAPoll refuses an invalid socket: only the valid ones go in.
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> index;
    for (size_t i = 0; i < count; ++i) {
        entries[i].ready = false;
        if (entries[i].socket == INVALID_NATIVE_SOCKET)
            continue;
        fds.push_back({Native(entries[i].socket), static_cast<SHORT>(entries[i].write ? POLLWRNORM : POLLRDNORM), 0});
        index.push_back(i);
    }
    const int rc = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), waitMs);
    for (size_t k = 0; k < fds.size(); ++k)
        entries[index[k]].ready = fds[k].revents != 0;
    return rc > 0;
}

StopSignal::StopSignal() : m_Socket(BindLoopback(SocketType::Datagram, m_nPort)) {}

void StopSignal::Set()
{
    const char byte = 0;
    SendDatagram(m_Socket.Get(), {htonl(0x7F000001u), m_nPort}, &byte, 1);
}

} // namespace kivtest
