#include "tests/support/TcpListener.h"

#include <gtest/gtest.h>

namespace kivtest {

TcpListener::TcpListener(int receiveBuffer, int backlog)
{
    m_Socket = BindLoopback(SocketType::Stream, m_nPort);
    if (receiveBuffer > 0)
        SetReceiveBuffer(m_Socket.Get(), receiveBuffer);
    if (!m_Socket.Valid() || !Listen(m_Socket.Get(), backlog))
        ADD_FAILURE() << "cannot listen on 127.0.0.1";
}

CSocketHandle TcpListener::Accept(int waitMs)
{
    if (!WaitReadable(m_Socket.Get(), waitMs))
        return CSocketHandle();
    return AcceptConnection(m_Socket.Get());
}

} // namespace kivtest
