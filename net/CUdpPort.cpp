#include "net/CUdpPort.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "log/ErrorText.h"
#include "net/InterfaceBinding.h"
#include "net/Ipv4Text.h"
#include "platform/Clock.h"
#include "platform/Trace.h"

namespace {

uint32_t Remaining(uint32_t timeoutMs, uint32_t startTick)
{
    if (timeoutMs == INFINITE)
        return INFINITE;
    const uint32_t elapsed = TicksSince(startTick);
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

// Waits until `fd` is ready for `events`, or the gate's wake event or the owner's cancel
// event fires. Returns 1 when ready, 0 on time-out, -1 with errno on failure (ECANCELED
// when woken by either event). A negative descriptor is skipped by poll().
int WaitReady(int fd, short events, int wakeFd, int cancelFd, uint32_t timeoutMs, uint32_t startTick)
{
    for (;;) {
        pollfd fds[3] = {{fd, events, 0}, {wakeFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int rc = ::poll(fds, 3, ScaledPollTimeout(Remaining(timeoutMs, startTick)));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return rc;
        if (fds[0].revents != 0)
            return 1;
        errno = ECANCELED;
        return -1;
    }
}

} // namespace

CUdpPort::CUdpPort() { m_RemoteAddr.sin_family = AF_INET; }

CUdpPort::~CUdpPort()
{
    Close();
    Trace("Delete CUdpPort\n");
}

sockaddr_in CUdpPort::RemoteAddr() const
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

int CUdpPort::NativeHandleForTest() const
{
    CSocketGate::CUse use(const_cast<CSocketGate&>(m_Socket));
    return use.Fd();
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
        m_RemoteAddr = MakeIpv4SocketAddress(valid ? addr : 0, port);
    }
    if (!valid) {
        Trace("CUdpPort::SetConfig - inet_addr(\"%s\") = INADDR_NONE\n", address.c_str());
        errno = EINVAL;
        return false;
    }
    if (m_bConnected.load()) {
        // A peer-only port follows its destination.
        m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
            if (ex.socket.Valid())
                m_bConnected = ConnectToPeer(ex.socket.Get());
        });
    }
    return true;
}

bool CUdpPort::ConnectToPeer(int fd)
{
    const sockaddr_in addr = RemoteAddr();
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

bool CUdpPort::Close()
{
    bool ok = true;
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
        if (!ex.socket.Valid())
            return;
        const int fd = ex.socket.Release();
        ex.changed = true;
        m_bConnected = false;
        if (::close(fd) != 0 && errno != EINTR) {
            m_dwLastError = static_cast<uint32_t>(errno);
            ok = false;
        }
    });
    return ok;
}

bool CUdpPort::Open()
{
    Close();
    bool ok = false;
    m_Socket.RunExclusive([&](CSocketGate::Exclusive& ex) {
        ex.socket.Reset();
        ex.changed = true;
        CUniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP));
        if (!fd.Valid()) {
            m_dwLastError = static_cast<uint32_t>(errno);
            return;
        }
        if (!TieSocketToInterface(fd.Get(), Interface())) {
            m_dwLastError = static_cast<uint32_t>(errno);
            Trace("CUdpPort::Open> setsockopt(SO_BINDTODEVICE)'s ErrorCode = %d\n", errno);
            return;
        }
        const bool broadcast = LastOctet(RemoteAddr().sin_addr.s_addr) == 255;
        if (broadcast) {
            const int one = 1;
            if (::setsockopt(fd.Get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
                m_dwLastError = static_cast<uint32_t>(errno);
                Trace("CUdpPort::Open> setsockopt(SO_BROADCAST)'s ErrorCode = %d\n", errno);
                return;
            }
        }
        // Connected to a unicast peer, the socket receives nothing from anyone else.
        if (m_bPeerOnly.load() && !broadcast && !ConnectToPeer(fd.Get())) {
            m_dwLastError = static_cast<uint32_t>(errno);
            return;
        }
        m_bConnected = m_bPeerOnly.load() && !broadcast;
        ex.socket = std::move(fd);
        ok = true;
    });
    return ok;
}

bool CUdpPort::Write(const void* data, uint32_t length, uint32_t timeoutMs)
{
    CSocketGate::CUse use(m_Socket, timeoutMs);
    if (use.TimedOut()) {
        m_dwLastError = WAIT_CODE_TIMEOUT;
        return false;
    }
    if (!use.IsOpen())
        return false;
    if (data == nullptr && length > 0) {
        m_dwLastError = EINVAL;
        return false;
    }
    const sockaddr_in addr = RemoteAddr();
    const uint32_t start = GetTickCount();
    for (;;) {
        const bool connected = m_bConnected.load();
        const ssize_t n = ::sendto(use.Fd(), data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
                                   connected ? nullptr : reinterpret_cast<const sockaddr*>(&addr),
                                   connected ? 0 : sizeof addr);
        if (n >= 0) {
            m_dwLastError = 0;
            return static_cast<uint32_t>(n) == length;
        }
        const int err = errno;
        // A connected socket reports an earlier datagram refused by the peer on this send;
        // the error is gone once reported, and this datagram goes out.
        if (err == EINTR || (err == ECONNREFUSED && connected))
            continue;
        if (err != EAGAIN && err != EWOULDBLOCK) {
            m_dwLastError = static_cast<uint32_t>(err);
            Trace("CUdpPort::Write - WSASendTo's ErrorCode = %d\n", err);
            return false;
        }
        const int rc = WaitReady(use.Fd(), POLLOUT, m_Socket.WakeHandle(), m_nCancelFd.load(), timeoutMs, start);
        if (rc <= 0) {
            m_dwLastError = rc == 0 ? WAIT_CODE_TIMEOUT : static_cast<uint32_t>(errno);
            Trace("CUdpPort::Write - WSAWaitForMultipleEvents's ErrorCode = %d\n",
                  static_cast<int>(m_dwLastError.load()));
            return false;
        }
    }
}

bool CUdpPort::Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs)
{
    return ReadFrom(buffer, size, count, timeoutMs, nullptr);
}

bool CUdpPort::ReadFrom(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs, uint32_t* sender)
{
    if (count != nullptr)
        *count = 0;
    CSocketGate::CUse use(m_Socket, timeoutMs);
    if (use.TimedOut()) {
        m_dwLastError = WAIT_CODE_TIMEOUT;
        return false;
    }
    if (!use.IsOpen())
        return false;

    // A socket that has not sent yet has no local port and can receive nothing.
    sockaddr_in local{};
    socklen_t localLen = sizeof local;
    if (::getsockname(use.Fd(), reinterpret_cast<sockaddr*>(&local), &localLen) != 0 || local.sin_port == 0) {
        m_dwLastError = EINVAL;
        Trace("CUdpPort::Read - WSARecv's ErrorCode = %d\n", EINVAL);
        return false;
    }

    const uint32_t start = GetTickCount();
    for (;;) {
        iovec iov{buffer, size};
        sockaddr_in from{};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(use.Fd(), &msg, MSG_DONTWAIT);
        if (n >= 0) {
            if (sender != nullptr)
                *sender = from.sin_addr.s_addr;
            if ((msg.msg_flags & MSG_TRUNC) != 0) {
                m_dwLastError = EMSGSIZE;
                Trace("CUdpPort::Read - WSAGetOverlappedResult's ErrorCode = %d\n", EMSGSIZE);
                return false;
            }
            if (count != nullptr)
                *count = static_cast<uint32_t>(n);
            m_dwLastError = 0;
            return n > 0;
        }
        const int err = errno;
        // A connected socket reports an earlier datagram refused by the peer (ICMP): that is
        // no answer, and the wait for one goes on.
        if (err == EINTR || (err == ECONNREFUSED && m_bConnected.load()))
            continue;
        if (err != EAGAIN && err != EWOULDBLOCK) {
            m_dwLastError = static_cast<uint32_t>(err);
            Trace("CUdpPort::Read - WSARecv's ErrorCode = %d\n", err);
            return false;
        }
        const int rc = WaitReady(use.Fd(), POLLIN, m_Socket.WakeHandle(), m_nCancelFd.load(), timeoutMs, start);
        if (rc <= 0) {
            m_dwLastError = rc == 0 ? WAIT_CODE_TIMEOUT : static_cast<uint32_t>(errno);
            Trace("CUdpPort::Read - WSAWaitForMultipleEvents's ErrorCode = %d\n",
                  static_cast<int>(m_dwLastError.load()));
            return false;
        }
    }
}
