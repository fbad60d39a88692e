#include "tests/support/UdpPeer.h"

namespace kivtest {

UdpPeer::UdpPeer(uint8_t lastOctet, uint16_t port) : m_nPort(port)
{
    m_Socket = BindLoopback(SocketType::Datagram, m_nPort, lastOctet);
    if (m_Socket.Valid()) {
        StampArrivals(m_Socket.Get());
        m_Thread = std::thread([this] { Run(); });
    }
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

bool UdpPeer::Receive(std::string& data, Ipv4Endpoint& from, int waitMs)
{
    std::unique_lock lock(m_Mutex);
    if (!m_Cond.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_Datagrams.size() > m_nTaken; }))
        return false;
    const Datagram& d = m_Datagrams[m_nTaken++];
    data.assign(d.bytes.begin(), d.bytes.end());
    from = d.from;
    return true;
}

bool UdpPeer::SendTo(const Ipv4Endpoint& to, const std::string& data)
{
    return SendDatagram(m_Socket.Get(), to, data.data(), data.size());
}

void UdpPeer::Run()
{
    for (;;) {
        PollEntry entries[2] = {{m_Stop.Socket()}, {m_Socket.Get()}};
        if (!PollSockets(entries, 2, -1) || entries[0].ready)
            return;
        Datagram datagram;
        std::string data;
        if (!ReceiveDatagram(m_Socket.Get(), data, datagram.from, datagram.at))
            continue;
        datagram.bytes.assign(data.begin(), data.end());
        std::vector<Bytes> replies;
        {
            std::lock_guard lock(m_Mutex);
            if (m_Responder)
                replies = m_Responder(datagram.bytes);
            m_Datagrams.push_back(datagram);
            m_Cond.notify_all();
        }
        for (const Bytes& reply : replies)
            SendDatagram(m_Socket.Get(), datagram.from, reply.data(), reply.size());
    }
}

} // namespace kivtest
