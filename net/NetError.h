#pragma once

#include <cstdint>
#include <string>
#include <system_error>

// The reasons the transport gives for a failure. Two kinds, never confused with each other:
//
// - a system error: the socket call's own error (an errno value on POSIX, a Winsock error on
//   Windows), in std::system_category();
// - a wait code: how a wait ended without its operation, in WaitCategory(). The numbers are
//   those of the wait results (258 time-out, 1 purged, 192 I/O completion), and their texts
//   are the ones the log has always shown for them.
//
// So a send that the system refuses with EPERM (1) is reported as that, not as a purge
// request (also 1).

enum class WaitCode : int {
    Purged = 1,
    IoCompletion = 192,
    TimedOut = 258,
};

const std::error_category& WaitCategory();
std::error_code make_error_code(WaitCode code);

template <>
struct std::is_error_code_enum<WaitCode> : std::true_type {
};

// The system errors the transport tells apart. SocketError() gives each as this platform's
// socket layer reports it (an errno value, or the Winsock error), so the code and its tests
// compare against the same value on every platform.
enum class SocketErrc {
    ConnectionRefused,
    ConnectionReset,
    ConnectionAborted,
    BrokenPipe, // a send on a connection the peer has left (POSIX only)
    Cancelled,  // a wait ended by another thread: a stop request, a close
    TimedOut,   // a connection not made in time
    InvalidArgument,
    MessageTooLong,   // a datagram larger than the receive buffer
    ShutDown,         // a read after this side shut the connection down
    NoSuchDevice,     // no network interface of that name
    PermissionDenied, // refused by the system (a firewall rule, for instance)
};

std::error_code SocketError(SocketErrc condition);

// The calling thread's last socket error (errno, or WSAGetLastError), and setting it.
std::error_code LastSocketError();
void SetLastSocketError(std::error_code error);
