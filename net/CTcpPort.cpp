#include "net/CTcpPort.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "log/ErrorText.h"
#include "net/InterfaceBinding.h"
#include "net/Ipv4Text.h"
#include "net/SocketConnect.h"
#include "platform/Clock.h"
#include "platform/Trace.h"

namespace {

// Time left of a wait of `timeoutMs` that started at `startTick` (scaled milliseconds).
uint32_t Remaining(uint32_t timeoutMs, uint32_t startTick)
{
    if (timeoutMs == INFINITE)
        return INFINITE;
    const uint32_t elapsed = TicksSince(startTick);
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

} // namespace

CTcpPort::CTcpPort() { m_RemoteAddr.sin_family = AF_INET; }

CTcpPort::~CTcpPort()
{
    Close();
    Trace("Delete CTcpPort\n");
}

sockaddr_in CTcpPort::RemoteAddr() const
{
    std::lock_guard lock(m_AddrLock);
    return m_RemoteAddr;
}

int CTcpPort::TraceId() const { return LastOctet(RemoteAddr().sin_addr.s_addr); }

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
    const bool valid = ParseDottedIpv4(address, &addr) && addr != INADDR_NONE;
    {
        std::lock_guard lock(m_AddrLock);
        m_RemoteAddr = MakeIpv4SocketAddress(valid ? addr : 0, port);
    }
    if (!valid) {
        Trace("CTcpPort::SetConfig - inet_addr(\"%s\") = INADDR_NONE\n", address.c_str());
        errno = EINVAL;
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
        // On Linux the descriptor is released even when close() reports an error, so the
        // port is closed either way; the error is still reported.
        const int fd = ex.socket.Release();
        ex.changed = true;
        if (::close(fd) != 0 && errno != EINTR) {
            m_dwLastError = static_cast<uint32_t>(errno);
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
    // Non-blocking from the start. The socket buffers keep their system sizes: shrinking them
    // to 0 would cripple throughput here.
    CUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        m_dwLastError = static_cast<uint32_t>(errno);
        return false;
    }
    std::string interfaceName;
    {
        std::lock_guard lock(m_AddrLock);
        interfaceName = m_strInterface;
    }
    if (!TieSocketToInterface(fd.Get(), interfaceName)) {
        m_dwLastError = static_cast<uint32_t>(errno);
        return false;
    }
    // Waits for the connection no longer than the owner's time-out, and gives up at once on
    // a Close or Shutdown of another thread or on a stop request.
    const int err = ConnectWithDeadline(fd.Get(), RemoteAddr(), m_nConnectTimeoutMs.load(),
                                        {m_Socket.AbortHandle(), m_nCancelFd.load()});
    if (err != 0) {
        m_dwLastError = static_cast<uint32_t>(err);
        return false;
    }
    ex.socket = std::move(fd);
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
    return ::shutdown(use.Fd(), SHUT_RDWR) == 0;
}

bool CTcpPort::ReadFailed(uint32_t* count)
{
    if (count != nullptr)
        *count = 0;
    Sleep(PAUSE_AFTER_FAILURE_MS);
    return false;
}

bool CTcpPort::Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs)
{
    if (count != nullptr)
        *count = 0;
    // A reconnection by another thread may hold the socket for a while; wait for it no
    // longer than this call's own time-out.
    CSocketGate::CUse use(m_Socket, timeoutMs);
    if (use.TimedOut()) {
        m_dwLastError = WAIT_CODE_TIMEOUT;
        Trace("CTcpPort%d::Read - Exit5 WSAWaitForMultipleEvents timeout\n", TraceId());
        return ReadFailed(count);
    }
    if (!use.IsOpen() || !m_PurgeEvent.IsValid()) {
        use.Leave();
        Trace("CTcpPort%d::Read - Exit1\n", TraceId());
        return ReadFailed(count);
    }
    if (buffer == nullptr || size == 0) {
        use.Leave();
        m_dwLastError = EINVAL;
        Trace("CTcpPort%d::Read - Exit4 WSARecv's ErrorCode = %d\n", TraceId(), EINVAL);
        return ReadFailed(count);
    }

    const uint32_t start = GetTickCount();
    bool waited = false;
    for (;;) {
        const ssize_t n = ::recv(use.Fd(), buffer, size, MSG_DONTWAIT);
        if (n > 0) {
            if (count != nullptr)
                *count = static_cast<uint32_t>(n);
            m_dwLastError = 0;
            return true;
        }
        if (n == 0) {
            const uint64_t generation = use.Generation();
            use.Leave();
            if (m_Socket.WasShutDown(generation)) {
                // Our own Shutdown, not the peer: fail like any aborted read.
                m_dwLastError = ESHUTDOWN;
                Trace("CTcpPort%d::Read - Exit6 WSAGetOverlappedResult's ErrorCode = %d\n", TraceId(), ESHUTDOWN);
                return ReadFailed(count);
            }
            Trace("CTcpPort%d::Read - Exit7\n", TraceId());
            Sleep(PAUSE_AFTER_ZERO_BYTES_MS);
            return false;
        }
        const int err = errno;
        if (err == EINTR)
            continue;
        if (!WouldBlock(err)) {
            m_dwLastError = static_cast<uint32_t>(err);
            const uint64_t generation = use.Generation();
            use.Leave();
            const int exitNo = waited ? 6 : 4;
            const char* what = waited ? "WSAGetOverlappedResult" : "WSARecv";
            const bool reset = err == ECONNRESET || (!waited && err == ECONNABORTED);
            if (reset) {
                Trace("CTcpPort%d::Read - Exit%d TCP连接被中断%d\n", TraceId(), exitNo, waited ? 2 : 1);
                Reconnect(generation);
            } else {
                Trace("CTcpPort%d::Read - Exit%d %s's ErrorCode = %d\n", TraceId(), exitNo, what, err);
            }
            return ReadFailed(count);
        }

        // Nothing there yet: wait for data, the purge signal, or a change of the socket by
        // another thread, whichever comes first.
        const uint32_t left = Remaining(timeoutMs, start);
        pollfd fds[3] = {{use.Fd(), POLLIN, 0}, {m_PurgeEvent.Handle(), POLLIN, 0}, {m_Socket.WakeHandle(), POLLIN, 0}};
        const nfds_t nfds = m_Socket.WakeHandle() >= 0 ? 3 : 2;
        const int rc = waited && left == 0 ? 0 : ::poll(fds, nfds, ScaledPollTimeout(left));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0) {
            m_dwLastError = static_cast<uint32_t>(errno);
            use.Leave();
            Trace("CTcpPort%d::Read - Exit5 Unable to wait until data has been read\n", TraceId());
            return ReadFailed(count);
        }
        if (rc == 0) {
            m_dwLastError = WAIT_CODE_TIMEOUT;
            use.Leave();
            Trace("CTcpPort%d::Read - Exit5 WSAWaitForMultipleEvents timeout\n", TraceId());
            return ReadFailed(count);
        }
        waited = true;
        if (fds[0].revents != 0)
            continue; // data, end of stream or an error: the receive tells which
        if ((fds[1].revents & POLLIN) != 0) {
            m_dwLastError = WAIT_CODE_PURGED;
            m_PurgeEvent.Reset();
            use.Leave();
            Trace("CTcpPort%d::Read - Exit5 m_PurgeEvent Signaled\n", TraceId());
            return ReadFailed(count);
        }
        if (nfds == 3 && fds[2].revents != 0) {
            m_dwLastError = ECANCELED;
            use.Leave();
            Trace("CTcpPort%d::Read - Exit5 socket closed or reopened by another thread\n", TraceId());
            return ReadFailed(count);
        }
    }
}

bool CTcpPort::Write(const void* data, uint32_t length, uint32_t timeoutMs)
{
    CSocketGate::CUse use(m_Socket, timeoutMs);
    if (use.TimedOut()) {
        m_dwLastError = WAIT_CODE_TIMEOUT;
        Trace("CTcpPort%d::Write - Exit5 WSAGetOverlappedResult's ErrorCode = %d\n", TraceId(),
              static_cast<int>(WAIT_CODE_TIMEOUT));
        return false;
    }
    if (!use.IsOpen()) {
        Trace("CTcpPort%d::Write - Exit1\n", TraceId());
        return false;
    }
    if (data == nullptr && length > 0) {
        m_dwLastError = EINVAL;
        Trace("CTcpPort%d::Write - Exit3 WSASend's ErrorCode = %d\n", TraceId(), EINVAL);
        return false;
    }

    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t dwLeft = length;
    while (dwLeft > 0) {
        // One request: it gets the full time-out, however many waits it takes.
        const uint32_t start = GetTickCount();
        bool waited = false;
        for (;;) {
            const ssize_t n = ::send(use.Fd(), p, dwLeft, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                if (!waited)
                    Trace("CTcpPort%d::Write - WSASend return %d dwSent = %d\n", TraceId(), 0, static_cast<int>(n));
                p += n;
                dwLeft -= static_cast<uint32_t>(n);
                break;
            }
            const int err = n == 0 ? EAGAIN : errno;
            if (err == EINTR)
                continue;
            if (!WouldBlock(err)) {
                m_dwLastError = static_cast<uint32_t>(err);
                const uint64_t generation = use.Generation();
                use.Leave();
                // EPIPE is how Linux reports a send on a connection the peer has reset or
                // closed; after our own Shutdown it is no reason to reconnect.
                const bool broken = err == ECONNRESET || (!waited && err == ECONNABORTED) ||
                                    (err == EPIPE && !m_Socket.WasShutDown(generation));
                const int exitNo = waited ? 5 : 3;
                if (!broken) {
                    Trace("CTcpPort%d::Write - Exit%d %s's ErrorCode = %d\n", TraceId(), exitNo,
                          waited ? "WSAGetOverlappedResult" : "WSASend", err);
                    return false;
                }
                Trace("CTcpPort%d::Write - Exit%d TCP连接被中断%d\n", TraceId(), exitNo, waited ? 2 : 1);
                const bool reconnected = Reconnect(generation);
                if (waited)
                    Trace(reconnected ? "CTcpPort%d::Write - 重建连接成功\n" : "CTcpPort%d::Write - 重建连接失败\n",
                          TraceId());
                m_dwLastError = static_cast<uint32_t>(err);
                Sleep(PAUSE_AFTER_FAILURE_MS);
                return false;
            }

            const uint32_t left = Remaining(timeoutMs, start);
            pollfd fds[2] = {{use.Fd(), POLLOUT, 0}, {m_Socket.WakeHandle(), POLLIN, 0}};
            const nfds_t nfds = m_Socket.WakeHandle() >= 0 ? 2 : 1;
            const int rc = waited && left == 0 ? 0 : ::poll(fds, nfds, ScaledPollTimeout(left));
            if (rc < 0 && errno == EINTR)
                continue;
            if (rc <= 0) {
                m_dwLastError = rc == 0 ? WAIT_CODE_TIMEOUT : static_cast<uint32_t>(errno);
                Trace("CTcpPort%d::Write - Exit5 WSAGetOverlappedResult's ErrorCode = %d\n", TraceId(),
                      static_cast<int>(m_dwLastError.load()));
                return false;
            }
            waited = true;
            if (nfds == 2 && fds[1].revents != 0 && fds[0].revents == 0) {
                m_dwLastError = ECANCELED;
                Trace("CTcpPort%d::Write - Exit5 socket closed or reopened by another thread\n", TraceId());
                return false;
            }
        }
    }
    m_dwLastError = 0;
    return true;
}
