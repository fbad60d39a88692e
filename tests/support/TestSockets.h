#pragma once

// The socket calls of the test peers (the routers and listeners the tests put on loopback),
// the same on every platform: TestSocketsPosix.cpp (BSD sockets, poll) and
// TestSocketsWin32.cpp (Winsock, WSAPoll). The peers wait on their sockets and on a
// StopSignal together, a socket too, so one poll serves both. Sockets are held in the
// product's CSocketHandle; nothing here is the product's own code path.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/Socket.h"

namespace kivtest {

// A socket bound to 127.0.0.`lastOctet`:`port` (0 lets the system pick; `port` then holds
// the bound port); an invalid handle when binding fails.
CSocketHandle BindLoopback(SocketType type, uint16_t& port, uint8_t lastOctet = 1);
// The local port of a socket (0 when it has none).
uint16_t BoundPort(NativeSocket socket);
bool Listen(NativeSocket socket, int backlog);
// The next connection waiting on a listening socket (invalid when none waits).
CSocketHandle AcceptConnection(NativeSocket listener);
// A stream socket whose connection to `to` is started and not waited for.
CSocketHandle StartConnection(const Ipv4Endpoint& to);
// Socket options the peers set: answers go out at once; a small receive buffer.
void SetNoDelay(NativeSocket socket);
void SetReceiveBuffer(NativeSocket socket, int bytes);
// Closes with a reset instead of a graceful close (linger with a zero time-out).
void CloseWithReset(CSocketHandle& socket);

// Non-blocking transfers: the byte count, 0 at the end of a stream, -1 when the call would
// have to wait (`wouldBlock` set) or failed.
long SendSome(NativeSocket socket, const void* data, size_t n, bool& wouldBlock);
long ReceiveSome(NativeSocket socket, void* buffer, size_t size, bool& wouldBlock);

// One datagram to `to`; true when it went out whole.
bool SendDatagram(NativeSocket socket, const Ipv4Endpoint& to, const void* data, size_t n);
// One datagram waiting on the socket, with its sender and the time it arrived (the
// system's own stamp where it gives one, else now); false when none could be taken.
bool ReceiveDatagram(NativeSocket socket, std::string& data, Ipv4Endpoint& from,
                     std::chrono::steady_clock::time_point& at);
// Asks the socket to stamp the datagrams it receives (where the system can).
void StampArrivals(NativeSocket socket);

// Sockets to wait on; `ready` is set for those that are (readable, or writable when
// `write`; an error or hang-up counts as ready). An invalid socket is skipped.
struct PollEntry {
    NativeSocket socket = INVALID_NATIVE_SOCKET;
    bool write = false;
    bool ready = false;
};
// Waits up to `waitMs` real ms (-1: no limit) until an entry is ready. False on time-out.
bool PollSockets(PollEntry* entries, size_t count, int waitMs);

// Tells a peer's thread to stop: a datagram socket that sends to itself, readable once set,
// so that it is waited on beside the peer's sockets.
class StopSignal {
public:
    StopSignal();
    void Set();
    NativeSocket Socket() const { return m_Socket.Get(); }

private:
    uint16_t m_nPort = 0; // before m_Socket, whose binding sets it
    CSocketHandle m_Socket;
};

} // namespace kivtest
