#include "tests/support/UdpPeer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace kivtest {

UdpPeer::UdpPeer(uint8_t lastOctet, uint16_t port) : m_nPort(port)
{
    m_Socket = BindLoopback(SOCK_DGRAM, m_nPort, lastOctet);
    if (m_Socket.Valid())
        m_Thread = std::thread([this] { Run(); });
}

UdpPeer::~UdpPeer()
{
    m_Stop.Set();
    if (m_Thread.joinable())
        m_Thread.join();
}

void UdpPeer::SetResponder(Responder responder)
{
    std::lock_guard lock(m_Mutex);
    m_Responder = std::move(responder);
}

std::vector<Bytes> UdpPeer::Datagrams()
{
    std::lock_guard lock(m_Mutex);
    std::vector<Bytes> datagrams;
    for (const Datagram& d : m_Datagrams)
        datagrams.push_back(d.bytes);
    return datagrams;
}

std::vector<UdpPeer::Datagram> UdpPeer::Arrivals()
{
    std::lock_guard lock(m_Mutex);
    return m_Datagrams;
}

bool UdpPeer::WaitDatagrams(size_t count, int waitMs)
{
    std::unique_lock lock(m_Mutex);
    return m_Cond.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_Datagrams.size() >= count; });
}

bool UdpPeer::Receive(std::string& data, sockaddr_in& from, int waitMs)
{
    std::unique_lock lock(m_Mutex);
    if (!m_Cond.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_Datagrams.size() > m_nTaken; }))
        return false;
    const Datagram& d = m_Datagrams[m_nTaken++];
    data.assign(d.bytes.begin(), d.bytes.end());
    from = d.from;
    return true;
}

bool UdpPeer::SendTo(const sockaddr_in& to, const std::string& data)
{
    return ::sendto(m_Socket.Get(), data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(data.size());
}

void UdpPeer::Run()
{
    for (;;) {
        pollfd fds[2] = {{m_Stop.Handle(), POLLIN, 0}, {m_Socket.Get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        uint8_t buffer[65536];
        Datagram datagram;
        socklen_t fromLength = sizeof datagram.from;
        const ssize_t n = ::recvfrom(m_Socket.Get(), buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&datagram.from), &fromLength);
        if (n < 0)
            continue;
        datagram.bytes.assign(buffer, buffer + n);
        datagram.at = std::chrono::steady_clock::now();
        std::vector<Bytes> replies;
        {
            std::lock_guard lock(m_Mutex);
            if (m_Responder)
                replies = m_Responder(datagram.bytes);
            m_Datagrams.push_back(datagram);
            m_Cond.notify_all();
        }
        for (const Bytes& reply : replies)
            ::sendto(m_Socket.Get(), reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&datagram.from),
                     fromLength);
    }
}

} // namespace kivtest
