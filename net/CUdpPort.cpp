#include "net/CUdpPort.h"

#include "net/InterfaceBinding.h"
#include "net/Ipv4Text.h"
#include "platform/CDeadline.h"
#include "platform/Trace.h"

CUdpPort::CUdpPort() = default;

CUdpPort::~CUdpPort()
{
    Close();
    Trace("Delete CUdpPort\n");
}

Ipv4Endpoint CUdpPort::RemoteAddr() const
{
    std::lock_guard lock(m_AddrLock);
    return m_RemoteAddr;
}

void CUdpPort::SetInterface(const std::string& name)
{
    std::lock_guard lock(m_AddrLock);
    m_strInterface = name;
}

std::string CUdpPort::Interface() const
{
    std::lock_guard lock(m_AddrLock);
    return m_strInterface;
}

bool CUdpPort::IsOpen() const { return m_Socket.IsOpen(); }

bool CUdpPort::IsBroadcastEnabled() const
{
    CSocketGate::CUse use(const_cast<CSocketGate&>(m_Socket));
    return use.IsOpen() && ::IsBroadcastEnabled(use.Socket());
}

bool CUdpPort::IsEarlierRefusal(const std::error_code& error) const
{
    return m_bConnected.load() &&
           (error == SocketError(SocketErrc::ConnectionRefused) || error == SocketError(SocketErrc::ConnectionReset));
}

bool CUdpPort::SetConfig(const std::string& address, uint16_t port)
{
    uint32_t addr = 0;
    const bool valid = ParseDottedIpv4(address, &addr);
    if (valid)
        Trace("AsciiBuffer = %s", address.c_str());
    {
        std::lock_guard lock(m_AddrLock);
        // "255.255.255.255" parses to the limited broadcast address itself.
        m_RemoteAddr = {valid ? addr : 0, port};
    }
    if (!valid) {
        Trace("CUdpPort::SetConfig - \"%s\" is not a dotted IPv4 address\n", address.c_str());
        SetLastSocketError(SocketError(SocketErrc::InvalidArgument));
        return false;
    }
    if (m_bConnected.load()) {
        // A peer-only port follows its destination.
        m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
            if (ex.socket.Valid())
                m_bConnected = !ConnectDatagramSocket(ex.socket.Get(), RemoteAddr());
        });
    }
    return true;
}

bool CUdpPort::Close()
{
    bool ok = true;
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
        if (!ex.socket.Valid())
            return;
        ex.changed = true;
        m_bConnected = false;
        if (const std::error_code error = CloseSocket(ex.socket.Release())) {
            SetLastError(error);
            ok = false;
        }
    });
    return ok;
}

std::error_code CUdpPort::OpenLocked(CSocketHandle& socket)
{
    std::error_code error = OpenSocket(SocketType::Datagram, socket);
    if (!error && (error = TieSocketToInterface(socket.Get(), Interface())))
        Trace("CUdpPort::Open - the socket cannot be tied to its interface: %s error %d\n", error.category().name(),
              error.value());
    const Ipv4Endpoint to = RemoteAddr();
    const bool broadcast = LastOctet(to.address) == 255;
    if (!error && broadcast && (error = EnableBroadcast(socket.Get())))
        Trace("CUdpPort::Open - the socket may not send to broadcast addresses: %s error %d\n", error.category().name(),
              error.value());
    // Connected to a unicast peer, the socket receives nothing from anyone else.
    const bool peerOnly = m_bPeerOnly.load() && !broadcast;
    if (!error && peerOnly)
        error = ConnectDatagramSocket(socket.Get(), to);
    m_bConnected = !error && peerOnly;
    return error;
}

bool CUdpPort::Open()
{
    Close();
    bool ok = false;
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
        ex.socket.Reset();
        ex.changed = true;
        CSocketHandle socket;
        if (const std::error_code error = OpenLocked(socket)) {
            SetLastError(error);
            return;
        }
        ex.socket = std::move(socket);
        ok = true;
    });
    return ok;
}

bool CUdpPort::Write(const void* data, uint32_t length, uint32_t timeoutMs)
{
    const CDeadline deadline(timeoutMs);
    CSocketGate::CUse use(m_Socket, deadline.Left());
    if (use.TimedOut())
        SetLastError(WaitCode::TimedOut);
    if (!use.IsOpen())
        return false;
    if (data == nullptr && length > 0) {
        SetLastError(SocketError(SocketErrc::InvalidArgument));
        return false;
    }
    const Ipv4Endpoint to = RemoteAddr();
    const std::error_code cancelled = SocketError(SocketErrc::Cancelled);
    SocketTransfer sent;
    do {
        // A connected socket sends to its peer. It reports an earlier datagram refused by
        // that peer on a send: the error is gone once reported, and this datagram goes out.
        sent = SendOnSocket(use.Socket(), data, length, deadline,
                            {{&m_Socket.WakeEvent(), cancelled}, {m_pCancel.load(), cancelled}},
                            m_bConnected.load() ? nullptr : &to);
    } while (IsEarlierRefusal(sent.error));
    SetLastError(sent.error);
    if (sent.error) {
        Trace("CUdpPort::Write - %s %s: %s error %d\n", sent.waited ? SocketCalls().wait : SocketCalls().send,
              sent.error == WaitCode::TimedOut ? "timed out" : "failed", sent.error.category().name(),
              sent.error.value());
        return false;
    }
    return sent.count == length;
}

bool CUdpPort::Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs)
{
    return ReadFrom(buffer, size, count, timeoutMs, nullptr);
}

bool CUdpPort::ReadFrom(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs, uint32_t* sender)
{
    if (count != nullptr)
        *count = 0;
    const CDeadline deadline(timeoutMs);
    CSocketGate::CUse use(m_Socket, deadline.Left());
    if (use.TimedOut())
        SetLastError(WaitCode::TimedOut);
    if (!use.IsOpen())
        return false;
    // A socket that has not sent yet has no local port and can receive nothing.
    if (!IsSocketBound(use.Socket())) {
        SetLastError(SocketError(SocketErrc::InvalidArgument));
        Trace("CUdpPort::Read - nothing was sent yet, so the socket has no port to receive on\n");
        return false;
    }
    const std::error_code cancelled = SocketError(SocketErrc::Cancelled);
    Ipv4Endpoint from;
    SocketTransfer received;
    do {
        // A connected socket reports an earlier datagram refused by its peer: that is no
        // answer, and the wait for one goes on.
        received = ReceiveOnSocket(use.Socket(), buffer, size, deadline,
                                   {{&m_Socket.WakeEvent(), cancelled}, {m_pCancel.load(), cancelled}}, &from);
    } while (IsEarlierRefusal(received.error));
    if (sender != nullptr)
        *sender = from.address;
    SetLastError(received.error);
    if (received.error) {
        Trace("CUdpPort::Read - %s %s: %s error %d\n", received.waited ? SocketCalls().wait : SocketCalls().receive,
              received.error == WaitCode::TimedOut ? "timed out" : "failed", received.error.category().name(),
              received.error.value());
        return false;
    }
    if (count != nullptr)
        *count = received.count;
    return received.count > 0;
}
