#pragma once

// The socket layer of the transport: the only code of net/ that calls the system's socket
// functions. SocketPosix.cpp does it with BSD sockets and poll(), SocketWin32.cpp with
// Winsock 2 (overlapped requests, each with an event of its own, ended by
// WSAWaitForMultipleEvents). The ports above it (CTcpPort, CUdpPort, and through CTcpPort
// the Telnet client) hold their policy: pauses, reconnections, traces, the last error.
//
// Every operation that may wait takes a deadline (CDeadline) and a list of events that end
// the wait at once, each with the error the operation then reports: the TCP port's purge
// request, the socket gate's wake-up when another thread closes or replaces the socket, a
// stop request. When the socket and an event are ready together, the socket wins: data
// that has arrived is delivered.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <system_error>
#include <utility>

#include "net/CWsaEvent.h"
#include "net/NetError.h"

class CDeadline;

#ifdef _WIN32
using NativeSocket = std::uintptr_t; // a SOCKET
#else
using NativeSocket = int; // a descriptor
#endif
// INVALID_SOCKET on Windows (all bits set), -1 on POSIX.
constexpr NativeSocket INVALID_NATIVE_SOCKET = static_cast<NativeSocket>(-1);

// An IPv4 address in network byte order and a port in host order.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// Closes a socket; the system's error when that failed (the socket is released either way).
std::error_code CloseSocket(NativeSocket socket);

// Owns one socket and closes it when it goes out of scope.
class CSocketHandle {
public:
    CSocketHandle() = default;
    explicit CSocketHandle(NativeSocket socket) : m_Socket(socket) {}
    ~CSocketHandle() { Reset(); }
    CSocketHandle(CSocketHandle&& other) noexcept : m_Socket(other.Release()) {}
    CSocketHandle& operator=(CSocketHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CSocketHandle(const CSocketHandle&) = delete;
    CSocketHandle& operator=(const CSocketHandle&) = delete;

    NativeSocket Get() const { return m_Socket; }
    bool Valid() const { return m_Socket != INVALID_NATIVE_SOCKET; }
    NativeSocket Release() { return std::exchange(m_Socket, INVALID_NATIVE_SOCKET); }
    void Reset(NativeSocket socket = INVALID_NATIVE_SOCKET)
    {
        if (Valid())
            CloseSocket(m_Socket);
        m_Socket = socket;
    }

private:
    NativeSocket m_Socket = INVALID_NATIVE_SOCKET;
};

// The socket library for the life of the object: Winsock 2.2 on Windows (WSAStartup and
// WSACleanup), nothing to do on POSIX. A program starts it once, before any socket.
class CSocketLibrary {
public:
    CSocketLibrary();
    ~CSocketLibrary();
    CSocketLibrary(const CSocketLibrary&) = delete;
    CSocketLibrary& operator=(const CSocketLibrary&) = delete;

    // The error of the start (0 when it started).
    int Error() const { return m_nError; }
    // The version the library offers, major and minor (2.2 wanted).
    int MajorVersion() const { return m_nVersion & 0xFF; }
    int MinorVersion() const { return (m_nVersion >> 8) & 0xFF; }
    bool RightVersion() const { return m_nError == 0 && MajorVersion() == 2 && MinorVersion() == 2; }

private:
    int m_nError = 0;
    int m_nVersion = 0x0202;
};

// An event that ends a wait, and the error the ended operation reports.
struct SocketWake {
    const CWsaEvent* event; // null or invalid: not waited on
    std::error_code reason;
};
using SocketWakes = std::initializer_list<SocketWake>;

// What one send or receive request did.
struct SocketTransfer {
    uint32_t count = 0;    // bytes sent or received (0 and no error: an empty datagram, or
                           // the end of a stream)
    std::error_code error; // empty on success
    bool waited = false;   // the request had to wait: its outcome came after a wait
};

enum class SocketType { Stream, Datagram };

// A new socket of `type` for IPv4, ready for the operations below (not inherited by child
// processes).
std::error_code OpenSocket(SocketType type, CSocketHandle& socket);

// Lets a datagram socket send to broadcast addresses (SO_BROADCAST), and tells whether it may.
std::error_code EnableBroadcast(NativeSocket socket);
bool IsBroadcastEnabled(NativeSocket socket);

// Connects a stream socket to `peer`, waiting for the connection until `deadline` (without
// a limit, the system's own connect time-out applies). A wake event ends the wait with its
// reason; the time running out gives SocketErrc::TimedOut.
std::error_code ConnectSocket(NativeSocket socket, const Ipv4Endpoint& peer, const CDeadline& deadline,
                              SocketWakes wakes);
// Connects a datagram socket to `peer` (no wait): it then sends there by default and
// receives only from there.
std::error_code ConnectDatagramSocket(NativeSocket socket, const Ipv4Endpoint& peer);

// True when the socket has a local address (a datagram socket gets one with its first send).
bool IsSocketBound(NativeSocket socket);

// One send request: hands as much of `data` to the system as it takes at once, waiting for
// room until `deadline`. `to` (datagram sockets) names the destination; null sends to the
// connected peer. Ends with WaitCode::TimedOut at the deadline, or a wake's reason.
SocketTransfer SendOnSocket(NativeSocket socket, const void* data, uint32_t length, const CDeadline& deadline,
                            SocketWakes wakes, const Ipv4Endpoint* to = nullptr);
// One receive request: up to `size` bytes of a stream, or one datagram, waiting until
// `deadline`. A datagram larger than `size` fails with SocketErrc::MessageTooLong. `from`
// (when given) receives the sender's address, also of a datagram that was too long.
SocketTransfer ReceiveOnSocket(NativeSocket socket, void* buffer, uint32_t size, const CDeadline& deadline,
                               SocketWakes wakes, Ipv4Endpoint* from = nullptr);

// Shuts both directions of a connected socket down.
std::error_code ShutdownSocket(NativeSocket socket);

// Names of the calls the layer makes, for traces: "poll" and "recv" on POSIX,
// "WSAWaitForMultipleEvents" and "WSARecv" on Windows, and so on.
struct SocketCallNames {
    const char* wait;
    const char* send;
    const char* receive;
    const char* connect;
};
const SocketCallNames& SocketCalls();
