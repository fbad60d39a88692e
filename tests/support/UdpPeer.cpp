#include "tests/support/UdpPeer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace kivtest {

namespace {

// When the kernel queued the datagram `message` came with (its SO_TIMESTAMPNS stamp), on
// the steady clock; now when it carries none. Peers that order datagrams among themselves
// then do not depend on how soon each peer's thread was scheduled.
std::chrono::steady_clock::time_point ArrivalTime(msghdr& message)
{
    const auto now = std::chrono::steady_clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto queued =
            std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        return now - (std::chrono::system_clock::now() - queued);
    }
    return now;
}

} // namespace

UdpPeer::UdpPeer(uint8_t lastOctet, uint16_t port) : m_nPort(port)
{
    m_Socket = BindLoopback(SOCK_DGRAM, m_nPort, lastOctet);
    const int on = 1;
    if (m_Socket.Valid() && ::setsockopt(m_Socket.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0)
        m_Thread = std::thread([this] { Run(); });
    else
        m_Socket.Reset();
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
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        Datagram datagram;
        iovec io{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &datagram.from;
        message.msg_namelen = sizeof datagram.from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_Socket.Get(), &message, 0);
        if (n < 0)
            continue;
        const socklen_t fromLength = message.msg_namelen;
        datagram.bytes.assign(buffer, buffer + n);
        datagram.at = ArrivalTime(message);
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
