#pragma once

#include <cstdint>

#include "tests/support/TestSockets.h"

namespace kivtest {

// A port on 127.0.0.1 where nothing answers, held for the object's life: a UDP socket that
// never reads (datagrams sent there get no reply) and a TCP socket bound to the same port
// that never listens (connections are refused). Stands for "no router here" without
// handing out a port that another test could take meanwhile.
class SilentPort {
public:
    SilentPort();
    uint16_t Port() const { return m_nPort; }

private:
    CSocketHandle m_Udp;
    CSocketHandle m_Tcp;
    uint16_t m_nPort = 0;
};

} // namespace kivtest
