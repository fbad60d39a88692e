#pragma once

// Sockets on 127.0.0.0/8 for tests. A port is always bound to 0 and read back, and held by
// the socket for as long as the test needs it: never probed, released and used later.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/CUniqueFd.h"

namespace kivtest {

// Real-time limit for waits in test code (not scaled: it only guards against hangs).
constexpr int GUARD_MS = 10000;

constexpr const char* LOOPBACK = "127.0.0.1";
constexpr uint8_t LOOPBACK_IP[4] = {127, 0, 0, 1};

// 127.0.0.`lastOctet`:`port`.
sockaddr_in LoopbackAddress(uint16_t port, uint8_t lastOctet = 1);

// A socket of `type` (SOCK_STREAM or SOCK_DGRAM) bound to 127.0.0.`lastOctet`:`port`; 0 lets
// the system pick. `port` then holds the bound port. An invalid descriptor when binding fails.
CUniqueFd BindLoopback(int type, uint16_t& port, uint8_t lastOctet = 1);

// The local port a socket is bound to (0 when it is not).
uint16_t BoundPort(int fd);

// True when `fd` is readable within `waitMs` real ms (-1: no limit); false when `stopFd`
// (if given) became readable first.
bool WaitReadable(int fd, int waitMs, int stopFd = -1);

// Sends all of `data`, waiting for room up to `waitMs` real ms in all (-1: no limit); stops
// early (false) when `stopFd` becomes readable.
bool SendAll(int fd, const void* data, size_t n, int waitMs = GUARD_MS, int stopFd = -1);

// Reads until `n` bytes arrived, the peer closed, or `waitMs` real ms passed.
std::string ReceiveBytes(int fd, size_t n, int waitMs = GUARD_MS);

// True when the peer closed its side (a read returns 0 or fails) within `waitMs`.
bool PeerClosed(int fd, int waitMs = GUARD_MS);

// Closes `fd` with a reset instead of a graceful close (linger with a zero time-out).
void ResetConnection(CUniqueFd& fd);

} // namespace kivtest
