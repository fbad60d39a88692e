#include "tests/support/SilentPort.h"

#include <gtest/gtest.h>

#include "tests/support/Loopback.h"

namespace kivtest {

SilentPort::SilentPort()
{
    // The UDP port comes from the system; the TCP socket then takes the same number, which
    // another program may hold already: try again with a new UDP port then.
    for (int attempt = 0; attempt < 50; ++attempt) {
        uint16_t port = 0;
        CSocketHandle udp = BindLoopback(SocketType::Datagram, port);
        CSocketHandle tcp = udp.Valid() ? BindLoopback(SocketType::Stream, port) : CSocketHandle();
        if (tcp.Valid()) {
            m_Udp = std::move(udp);
            m_Tcp = std::move(tcp);
            m_nPort = port;
            return;
        }
    }
    ADD_FAILURE() << "no port on 127.0.0.1 is free for both UDP and TCP";
}

} // namespace kivtest
