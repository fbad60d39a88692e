#include "tests/support/TcpPeer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "wire/HdlcFraming.h"

namespace kivtest {

TcpPeer::TcpPeer()
{
    m_Listen = BindLoopback(SocketType::Stream, m_nPort);
    if (!m_Listen.Valid() || !Listen(m_Listen.Get(), 8))
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
        PollEntry entries[3] = {{m_Stop.Socket()}, {m_Listen.Get()}, {}};
        {
            std::lock_guard lock(m_Mutex);
            entries[2].socket = m_Client.Get();
        }
        if (!PollSockets(entries, 3, -1)) {
            ADD_FAILURE() << "TcpPeer: waiting on its sockets failed";
            return;
        }
        if (entries[0].ready)
            return;
        if (entries[1].ready)
            Accept();
        if (entries[2].ready)
            Receive();
    }
}

void TcpPeer::Accept()
{
    CSocketHandle socket = AcceptConnection(m_Listen.Get());
    if (!socket.Valid())
        return;
    // Answers go out at once, as a router's would.
    SetNoDelay(socket.Get());
    std::string greeting;
    {
        std::lock_guard sendLock(m_SendLock);
        std::lock_guard lock(m_Mutex);
        m_Client = std::move(socket);
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
    NativeSocket socket;
    {
        std::lock_guard lock(m_Mutex);
        socket = m_Client.Get();
    }
    bool wouldBlock = false;
    const long n = ReceiveSome(socket, buffer, sizeof buffer, wouldBlock);
    if (wouldBlock)
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
    NativeSocket socket;
    {
        std::lock_guard lock(m_Mutex);
        socket = m_Client.Get();
    }
    // The stop event ends a send to a client that stopped reading.
    return socket != INVALID_NATIVE_SOCKET && SendAll(socket, bytes.data(), bytes.size(), -1, &m_Stop);
}

void TcpPeer::CloseConnection()
{
    std::lock_guard sendLock(m_SendLock);
    std::lock_guard lock(m_Mutex);
    m_Client.Reset();
    m_Cond.notify_all();
}

} // namespace kivtest
