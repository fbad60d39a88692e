#include "net/CTcpPort.h"

#include "net/InterfaceBinding.h"
#include "net/Ipv4Text.h"
#include "platform/CDeadline.h"
#include "platform/Clock.h"
#include "platform/Trace.h"

namespace {

constexpr uint32_t LIMITED_BROADCAST = 0xFFFFFFFFu;

} // namespace

CTcpPort::CTcpPort() = default;

CTcpPort::~CTcpPort()
{
    Close();
    Trace("Delete CTcpPort\n");
}

Ipv4Endpoint CTcpPort::RemoteAddr() const
{
    std::lock_guard lock(m_AddrLock);
    return m_RemoteAddr;
}

int CTcpPort::TraceId() const { return LastOctet(RemoteAddr().address); }

void CTcpPort::SetInterface(const std::string& name)
{
    std::lock_guard lock(m_AddrLock);
    m_strInterface = name;
}

bool CTcpPort::IsOpen() const { return m_Socket.IsOpen(); }

bool CTcpPort::Purge()
{
    m_PurgeEvent.Set();
    return true;
}

bool CTcpPort::SetConfig(const std::string& address, uint16_t port)
{
    uint32_t addr = 0;
    // The limited broadcast address has no meaning for a connection and is refused.
    const bool valid = ParseDottedIpv4(address, &addr) && addr != LIMITED_BROADCAST;
    {
        std::lock_guard lock(m_AddrLock);
        m_RemoteAddr = {valid ? addr : 0, port};
    }
    if (!valid) {
        Trace("CTcpPort::SetConfig - \"%s\" is not the dotted IPv4 address of a host\n", address.c_str());
        SetLastSocketError(SocketError(SocketErrc::InvalidArgument));
        return false;
    }
    return true;
}

bool CTcpPort::Close()
{
    bool ok = true;
    // A reconnection that waits for its connection gives up rather than delay the close.
    m_Socket.BeginAbort();
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
        if (!ex.socket.Valid())
            return;
        // The socket is released even when closing it reports an error, so the port is
        // closed either way; the error is still reported.
        ex.changed = true;
        if (const std::error_code error = CloseSocket(ex.socket.Release())) {
            SetLastError(error);
            ok = false;
        }
    });
    m_Socket.EndAbort();
    return ok;
}

bool CTcpPort::ConnectLocked(CSocketGate::Exclusive& ex)
{
    ex.socket.Reset();
    ex.changed = true;
    std::string interfaceName;
    {
        std::lock_guard lock(m_AddrLock);
        interfaceName = m_strInterface;
    }
    // The socket buffers keep their system sizes: shrinking them to 0 would cripple
    // throughput here.
    CSocketHandle socket;
    std::error_code error = OpenSocket(SocketType::Stream, socket);
    if (!error)
        error = TieSocketToInterface(socket.Get(), interfaceName);
    // Waits for the connection no longer than the owner's time-out, and gives up at once on
    // a Close or Shutdown of another thread or on a stop request.
    const std::error_code cancelled = SocketError(SocketErrc::Cancelled);
    if (!error)
        error = ConnectSocket(socket.Get(), RemoteAddr(), CDeadline(m_nConnectTimeoutMs.load()),
                              {{&m_Socket.AbortEvent(), cancelled}, {m_pCancel.load(), cancelled}});
    if (error) {
        SetLastError(error);
        return false;
    }
    ex.socket = std::move(socket);
    return true;
}

bool CTcpPort::Open()
{
    Close();
    bool ok = false;
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) { ok = ConnectLocked(ex); });
    return ok;
}

bool CTcpPort::Reconnect(uint64_t failedGeneration)
{
    bool ok = false;
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
        // Someone closed or replaced the failed connection meanwhile: leave their state.
        if (ex.generation != failedGeneration)
            return;
        ok = ConnectLocked(ex);
    });
    return ok;
}

bool CTcpPort::Shutdown()
{
    m_Socket.BeginAbort();
    CSocketGate::CUse use(m_Socket);
    m_Socket.EndAbort();
    if (!use.IsOpen())
        return false;
    // Mark first, so that a Read woken by the shutdown knows it was this side.
    m_Socket.MarkShutDown(use.Generation());
    return !ShutdownSocket(use.Socket());
}

bool CTcpPort::ReadFailed()
{
    Sleep(PAUSE_AFTER_FAILURE_MS);
    return false;
}

bool CTcpPort::Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs)
{
    if (count != nullptr)
        *count = 0;
    const CDeadline deadline(timeoutMs);
    // A reconnection by another thread may hold the socket for a while; wait for it no
    // longer than this call's own time-out.
    CSocketGate::CUse use(m_Socket, deadline.Left());
    if (use.TimedOut()) {
        SetLastError(WaitCode::TimedOut);
        Trace("CTcpPort%d::Read - timed out while another thread reconnected\n", TraceId());
        return ReadFailed();
    }
    const bool open = use.IsOpen() && m_PurgeEvent.IsValid();
    if (!open || buffer == nullptr || size == 0) {
        if (open)
            SetLastError(SocketError(SocketErrc::InvalidArgument));
        use.Leave();
        Trace("CTcpPort%d::Read - %s\n", TraceId(), open ? "no buffer to read into" : "the port is not open");
        return ReadFailed();
    }
    const SocketTransfer received = ReceiveOnSocket(use.Socket(), buffer, size, deadline,
                                                    {{&m_PurgeEvent, WaitCode::Purged},
                                                     {&m_Socket.WakeEvent(), SocketError(SocketErrc::Cancelled)},
                                                     {&m_Socket.ShutDownEvent(), SocketError(SocketErrc::ShutDown)}});
    const uint64_t generation = use.Generation();
    use.Leave();
    if (received.error)
        return ReceiveFailed(received, generation);
    if (received.count == 0)
        return ZeroByteRead(generation);
    if (count != nullptr)
        *count = received.count;
    SetLastError({});
    return true;
}

bool CTcpPort::ReceiveFailed(const SocketTransfer& transfer, uint64_t generation)
{
    const std::error_code error = transfer.error;
    SetLastError(error);
    if (error == WaitCode::Purged) {
        m_PurgeEvent.Reset();
        Trace("CTcpPort%d::Read - ended by the purge request\n", TraceId());
    } else if (error == WaitCode::TimedOut) {
        Trace("CTcpPort%d::Read - %s timed out\n", TraceId(), SocketCalls().wait);
    } else if (error == SocketError(SocketErrc::Cancelled)) {
        Trace("CTcpPort%d::Read - the socket was closed or replaced by another thread\n", TraceId());
    } else if (error == SocketError(SocketErrc::ShutDown)) {
        Trace("CTcpPort%d::Read - the socket was shut down by this side\n", TraceId());
    } else if (error == SocketError(SocketErrc::ConnectionReset) ||
               (!transfer.waited && error == SocketError(SocketErrc::ConnectionAborted))) {
        Trace("CTcpPort%d::Read - TCP连接被中断 (%s error %d), reconnecting\n", TraceId(), error.category().name(),
              error.value());
        Reconnect(generation);
    } else {
        Trace("CTcpPort%d::Read - %s failed: %s error %d\n", TraceId(), SocketCalls().receive, error.category().name(),
              error.value());
    }
    return ReadFailed();
}

bool CTcpPort::ZeroByteRead(uint64_t generation)
{
    if (m_Socket.WasShutDown(generation)) {
        // Our own Shutdown, not the peer: fail like any aborted read.
        SetLastError(SocketError(SocketErrc::ShutDown));
        Trace("CTcpPort%d::Read - the socket was shut down by this side\n", TraceId());
        return ReadFailed();
    }
    Trace("CTcpPort%d::Read - the peer closed its side of the connection\n", TraceId());
    Sleep(PAUSE_AFTER_ZERO_BYTES_MS);
    return false;
}

bool CTcpPort::Write(const void* data, uint32_t length, uint32_t timeoutMs)
{
    CSocketGate::CUse use(m_Socket, timeoutMs);
    if (use.TimedOut()) {
        SetLastError(WaitCode::TimedOut);
        Trace("CTcpPort%d::Write - timed out while another thread reconnected\n", TraceId());
        return false;
    }
    const bool open = use.IsOpen();
    if (!open || (data == nullptr && length > 0)) {
        if (open)
            SetLastError(SocketError(SocketErrc::InvalidArgument));
        Trace("CTcpPort%d::Write - %s\n", TraceId(), open ? "no data to send" : "the port is not open");
        return false;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    for (uint32_t left = length; left > 0;) {
        // One request: it gets the full time-out, however many waits it takes.
        const SocketTransfer sent = SendOnSocket(use.Socket(), p, left, CDeadline(timeoutMs),
                                                 {{&m_Socket.WakeEvent(), SocketError(SocketErrc::Cancelled)}});
        if (sent.error) {
            const uint64_t generation = use.Generation();
            use.Leave();
            return SendFailed(sent, generation);
        }
        if (!sent.waited)
            Trace("CTcpPort%d::Write - %s took %u bytes at once\n", TraceId(), SocketCalls().send, sent.count);
        p += sent.count;
        left -= sent.count;
    }
    SetLastError({});
    return true;
}

bool CTcpPort::SendFailed(const SocketTransfer& transfer, uint64_t generation)
{
    const std::error_code error = transfer.error;
    SetLastError(error);
    // A broken pipe is how Linux reports a send on a connection the peer has reset or
    // closed; after our own Shutdown it is no reason to reconnect.
    const bool broken = error == SocketError(SocketErrc::ConnectionReset) ||
                        (!transfer.waited && error == SocketError(SocketErrc::ConnectionAborted)) ||
                        (error == SocketError(SocketErrc::BrokenPipe) && !m_Socket.WasShutDown(generation));
    if (!broken) {
        Trace("CTcpPort%d::Write - %s %s: %s error %d\n", TraceId(),
              transfer.waited ? SocketCalls().wait : SocketCalls().send,
              error == WaitCode::TimedOut ? "timed out" : "failed", error.category().name(), error.value());
        return false;
    }
    Trace("CTcpPort%d::Write - TCP连接被中断 (%s error %d), reconnecting\n", TraceId(), error.category().name(),
          error.value());
    const bool reconnected = Reconnect(generation);
    Trace(reconnected ? "CTcpPort%d::Write - 重建连接成功\n" : "CTcpPort%d::Write - 重建连接失败\n", TraceId());
    // The call reports what broke the connection, whatever the reconnection left.
    SetLastError(error);
    Sleep(PAUSE_AFTER_FAILURE_MS);
    return false;
}
