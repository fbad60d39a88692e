#include "tests/support/TcpPeer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>

#include "wire/HdlcFraming.h"

namespace kivtest {

TcpPeer::TcpPeer()
{
    m_Listen = BindLoopback(SOCK_STREAM, m_nPort);
    if (!m_Listen.Valid() || ::listen(m_Listen.Get(), 8) != 0)
        ADD_FAILURE() << "TcpPeer cannot listen on 127.0.0.1";
    m_Thread = std::thread([this] { Run(); });
}

TcpPeer::~TcpPeer()
{
    m_Stop.Set();
    m_Thread.join();
}

void TcpPeer::SetKeepReceived(bool keep)
{
    std::lock_guard lock(m_Mutex);
    m_bKeep = keep;
}

void TcpPeer::SetFrameResponder(FrameResponder responder)
{
    std::lock_guard lock(m_Mutex);
    m_FrameResponder = std::move(responder);
}

void TcpPeer::SetLineResponder(LineResponder responder)
{
    std::lock_guard lock(m_Mutex);
    m_LineResponder = std::move(responder);
}

void TcpPeer::SetConnectHandler(ConnectHandler handler)
{
    std::lock_guard lock(m_Mutex);
    m_ConnectHandler = std::move(handler);
}

bool TcpPeer::WaitConnected(int waitMs)
{
    std::unique_lock lock(m_Mutex);
    return m_Cond.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_Client.Valid(); });
}

int TcpPeer::Connections()
{
    std::lock_guard lock(m_Mutex);
    return m_nConnections;
}

bool TcpPeer::Send(const Bytes& raw)
{
    if (!WaitConnected())
        return false;
    return SendOnConnection(std::string(raw.begin(), raw.end()));
}

Bytes TcpPeer::Received()
{
    std::lock_guard lock(m_Mutex);
    return m_Raw;
}

std::vector<Bytes> TcpPeer::Frames()
{
    std::lock_guard lock(m_Mutex);
    return m_Frames;
}

bool TcpPeer::WaitFrames(size_t count, int waitMs)
{
    std::unique_lock lock(m_Mutex);
    return m_Cond.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_Frames.size() >= count; });
}

bool TcpPeer::WaitRawBytes(size_t count, int waitMs)
{
    std::unique_lock lock(m_Mutex);
    return m_Cond.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_Raw.size() >= count; });
}

void TcpPeer::Run()
{
    for (;;) {
        pollfd fds[3] = {{m_Stop.Handle(), POLLIN, 0}, {m_Listen.Get(), POLLIN, 0}, {-1, POLLIN, 0}};
        {
            std::lock_guard lock(m_Mutex);
            fds[2].fd = m_Client.Get();
        }
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            ADD_FAILURE() << "TcpPeer: poll failed, errno " << errno;
            return;
        }
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN)
            Accept();
        if (fds[2].fd >= 0 && fds[2].revents != 0)
            Receive();
    }
}

void TcpPeer::Accept()
{
    CUniqueFd fd(::accept4(m_Listen.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd.Valid())
        return;
    // Answers go out at once, as a router's would.
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string greeting;
    {
        std::lock_guard sendLock(m_SendLock);
        std::lock_guard lock(m_Mutex);
        m_Client = std::move(fd);
        ++m_nConnections;
        m_Pending.clear();
        m_Line.clear();
        if (m_ConnectHandler)
            greeting = m_ConnectHandler();
        m_Cond.notify_all();
    }
    if (!greeting.empty())
        SendOnConnection(greeting);
}

void TcpPeer::Receive()
{
    uint8_t buffer[4096];
    int fd;
    {
        std::lock_guard lock(m_Mutex);
        fd = m_Client.Get();
    }
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR)
        return;
    if (n <= 0) {
        CloseConnection();
        return;
    }
    std::vector<std::string> answers;
    bool close = false;
    {
        std::lock_guard lock(m_Mutex);
        OnBytesLocked(buffer, static_cast<size_t>(n), answers, close);
        m_Cond.notify_all();
    }
    for (const std::string& answer : answers) {
        if (!SendOnConnection(answer))
            break;
    }
    if (close)
        CloseConnection();
}

void TcpPeer::OnBytesLocked(const uint8_t* bytes, size_t count, std::vector<std::string>& out, bool& close)
{
    for (size_t i = 0; i < count && !close; ++i) {
        if (m_bKeep)
            m_Raw.push_back(bytes[i]);
        OnFrameByteLocked(bytes[i], out);
        if (m_LineResponder)
            OnLineByteLocked(bytes[i], out, close);
    }
}

void TcpPeer::OnFrameByteLocked(uint8_t byte, std::vector<std::string>& out)
{
    if (byte != HDLC_FLAG) {
        m_Pending.push_back(byte);
        return;
    }
    if (m_Pending.empty())
        return;
    Bytes payload = Unframe(m_Pending);
    m_Pending.clear();
    if (payload.empty())
        return;
    if (m_bKeep)
        m_Frames.push_back(payload);
    if (m_FrameResponder) {
        for (const Bytes& reply : m_FrameResponder(payload))
            out.emplace_back(reply.begin(), reply.end());
    }
}

void TcpPeer::OnLineByteLocked(uint8_t byte, std::vector<std::string>& out, bool& close)
{
    if (byte != '\n') {
        m_Line.push_back(static_cast<char>(byte));
        return;
    }
    if (!m_Line.empty() && m_Line.back() == '\r')
        m_Line.pop_back();
    LineAnswer answer = m_LineResponder(m_Line);
    m_Line.clear();
    if (!answer.text.empty())
        out.push_back(std::move(answer.text));
    close = answer.close;
}

bool TcpPeer::SendOnConnection(const std::string& bytes)
{
    std::lock_guard sendLock(m_SendLock);
    int fd;
    {
        std::lock_guard lock(m_Mutex);
        fd = m_Client.Get();
    }
    // The stop event ends a send to a client that stopped reading.
    return fd >= 0 && SendAll(fd, bytes.data(), bytes.size(), -1, m_Stop.Handle());
}

void TcpPeer::CloseConnection()
{
    std::lock_guard sendLock(m_SendLock);
    std::lock_guard lock(m_Mutex);
    m_Client.Reset();
    m_Cond.notify_all();
}

} // namespace kivtest
