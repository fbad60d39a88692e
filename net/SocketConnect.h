#pragma once

#include <cstdint>
#include <initializer_list>

#include <netinet/in.h>

// Connects the non-blocking stream socket `fd` to `peer` and waits for the connection at
// most `timeoutMs` (scaled milliseconds; INFINITE waits for the system's own connect
// time-out). A descriptor of `cancelFds` that becomes readable ends the wait at once (a
// negative one is skipped): a stop request, or the owner closing the port.
//
// Returns 0 when the connection is up, else the errno value: ETIMEDOUT when the time ran
// out, ECANCELED when a cancel descriptor fired, or the connection's own error.
int ConnectWithDeadline(int fd, const sockaddr_in& peer, uint32_t timeoutMs, std::initializer_list<int> cancelFds);
