#pragma once

// Sockets on 127.0.0.0/8 for tests. A port is always bound to 0 and read back, and held by
// the socket for as long as the test needs it: never probed, released and used later.

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/TestSockets.h"

namespace kivtest {

// Real-time limit for waits in test code (not scaled: it only guards against hangs).
constexpr int GUARD_MS = 10000;

constexpr const char* LOOPBACK = "127.0.0.1";
constexpr uint8_t LOOPBACK_IP[4] = {127, 0, 0, 1};

// 127.0.0.`lastOctet`:`port`.
Ipv4Endpoint LoopbackAddress(uint16_t port, uint8_t lastOctet = 1);

// True when `socket` is readable within `waitMs` real ms (-1: no limit); false when `stop`
// (if given) was set first.
bool WaitReadable(NativeSocket socket, int waitMs, const StopSignal* stop = nullptr);

// Sends all of `data`, waiting for room up to `waitMs` real ms in all (-1: no limit); stops
// early (false) when `stop` is set.
bool SendAll(NativeSocket socket, const void* data, size_t n, int waitMs = GUARD_MS, const StopSignal* stop = nullptr);

// Reads until `n` bytes arrived, the peer closed, or `waitMs` real ms passed.
std::string ReceiveBytes(NativeSocket socket, size_t n, int waitMs = GUARD_MS);

// True when the peer closed its side (a read returns 0 or fails) within `waitMs`.
bool PeerClosed(NativeSocket socket, int waitMs = GUARD_MS);

// Closes `socket` with a reset instead of a graceful close (linger with a zero time-out).
void ResetConnection(CSocketHandle& socket);

} // namespace kivtest
