#pragma once

#include <cstdint>

#include "tests/support/Loopback.h"

namespace kivtest {

// A listening TCP socket on 127.0.0.1 (port bound to 0 and read back). Connections complete
// in the backlog, so a client's connect returns before the test accepts.
class TcpListener {
public:
    // `receiveBuffer` > 0 shrinks the receive buffer of accepted connections.
    explicit TcpListener(int receiveBuffer = 0, int backlog = 8);
    uint16_t Port() const { return m_nPort; }
    NativeSocket Socket() const { return m_Socket.Get(); }
    // The next connection, or an invalid socket when none arrives within `waitMs` real ms.
    CSocketHandle Accept(int waitMs = GUARD_MS);

private:
    CSocketHandle m_Socket;
    uint16_t m_nPort = 0;
};

} // namespace kivtest
