#include "tests/support/TcpListener.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

namespace kivtest {

TcpListener::TcpListener(int receiveBuffer, int backlog)
{
    m_Fd = BindLoopback(SOCK_STREAM, m_nPort);
    if (receiveBuffer > 0)
        ::setsockopt(m_Fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (!m_Fd.Valid() || ::listen(m_Fd.Get(), backlog) != 0)
        ADD_FAILURE() << "cannot listen on 127.0.0.1";
}

CUniqueFd TcpListener::Accept(int waitMs)
{
    if (!WaitReadable(m_Fd.Get(), waitMs))
        return CUniqueFd();
    return CUniqueFd(::accept4(m_Fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

} // namespace kivtest
