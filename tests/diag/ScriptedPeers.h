#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "DiagTestSupport.h"
#include "diag/HdlcFraming.h"
#include "platform/UniqueFd.h"

// Peers on 127.0.0.1 (ephemeral ports) that stand in for the router in tests.

namespace peer_detail {

inline UniqueFd BindLoopback(int type, uint16_t* port)
{
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    return fd;
}

} // namespace peer_detail

// Accepts one TCP connection, cuts what it receives into frames and answers each good frame
// with whatever the responder returns (raw byte strings, each sent with its own send).
class ScriptedTcpPeer {
public:
    using Responder = std::function<std::vector<Bytes>(const Bytes& payload)>;

    ScriptedTcpPeer()
    {
        m_Listen = peer_detail::BindLoopback(SOCK_STREAM, &m_Port);
        ::listen(m_Listen.Get(), 4);
        m_Wake.Reset(::eventfd(0, EFD_CLOEXEC));
        m_Thread = std::thread([this] { Run(); });
    }
    ~ScriptedTcpPeer()
    {
        uint64_t one = 1;
        (void)!::write(m_Wake.Get(), &one, sizeof(one));
        m_Thread.join();
    }

    uint16_t Port() const { return m_Port; }

    void SetResponder(Responder responder)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Responder = std::move(responder);
    }

    bool WaitConnected(int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_Client.Valid(); });
    }

    void Send(const Bytes& raw)
    {
        WaitConnected();
        std::lock_guard<std::mutex> lock(m_Mutex);
        SendLocked(raw);
    }

    Bytes Received()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Raw;
    }
    std::vector<Bytes> Frames()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Frames;
    }
    bool WaitFrames(size_t count, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_Frames.size() >= count; });
    }
    bool WaitRawBytes(size_t count, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_Raw.size() >= count; });
    }
private:
    void SendLocked(const Bytes& raw)
    {
        size_t sent = 0;
        while (m_Client.Valid() && sent < raw.size()) {
            ssize_t n = ::send(m_Client.Get(), raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += size_t(n);
        }
    }

    void Run()
    {
        for (;;) {
            pollfd fds[3] = {{m_Wake.Get(), POLLIN, 0}, {m_Listen.Get(), POLLIN, 0}, {-1, POLLIN, 0}};
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                fds[2].fd = m_Client.Get();
            }
            if (::poll(fds, 3, -1) < 0)
                continue;
            if (fds[0].revents != 0)
                return;
            if (fds[1].revents & POLLIN) {
                int fd = ::accept4(m_Listen.Get(), nullptr, nullptr, SOCK_CLOEXEC);
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Client.Reset(fd); // the newest connection replaces an older one
                m_Cond.notify_all();
            }
            if (fds[2].fd >= 0 && fds[2].revents != 0) {
                uint8_t buffer[4096];
                ssize_t n = ::recv(fds[2].fd, buffer, sizeof(buffer), 0);
                std::lock_guard<std::mutex> lock(m_Mutex);
                if (n <= 0) {
                    m_Client.Reset();
                } else {
                    OnBytesLocked(buffer, size_t(n));
                }
                m_Cond.notify_all();
            }
        }
    }

    void OnBytesLocked(const uint8_t* bytes, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            m_Raw.push_back(bytes[i]);
            if (bytes[i] != HDLC_FLAG) {
                m_Pending.push_back(bytes[i]);
                continue;
            }
            if (m_Pending.empty())
                continue;
            Bytes payload(m_Pending.size());
            payload.resize(HdlcDecode(m_Pending.data(), uint32_t(m_Pending.size()), payload.data()));
            m_Pending.clear();
            if (payload.empty())
                continue;
            m_Frames.push_back(payload);
            if (m_Responder) {
                for (const Bytes& reply : m_Responder(payload))
                    SendLocked(reply);
            }
        }
    }

    UniqueFd m_Listen;
    UniqueFd m_Wake;
    uint16_t m_Port = 0;
    std::mutex m_Mutex;
    std::condition_variable m_Cond;
    UniqueFd m_Client;
    Responder m_Responder;
    Bytes m_Raw;
    Bytes m_Pending;
    std::vector<Bytes> m_Frames;
    std::thread m_Thread;
};

// Frame of `payload` as the router sends it.
inline Bytes Frame(const Bytes& payload, int leading = 0)
{
    Bytes frame(HdlcMaxFrameLength(uint32_t(payload.size())));
    frame.resize(HdlcEncode(payload.data(), uint32_t(payload.size()), frame.data(), leading));
    return frame;
}

// Receives datagrams on 127.0.0.1 and answers each with the responder's datagrams, sent
// back to the sender.
class ScriptedUdpPeer {
public:
    using Responder = std::function<std::vector<Bytes>(const Bytes& datagram)>;

    ScriptedUdpPeer()
    {
        m_Socket = peer_detail::BindLoopback(SOCK_DGRAM, &m_Port);
        m_Wake.Reset(::eventfd(0, EFD_CLOEXEC));
        m_Thread = std::thread([this] { Run(); });
    }
    ~ScriptedUdpPeer()
    {
        uint64_t one = 1;
        (void)!::write(m_Wake.Get(), &one, sizeof(one));
        m_Thread.join();
    }

    uint16_t Port() const { return m_Port; }
    void SetResponder(Responder responder)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Responder = std::move(responder);
    }
    std::vector<Bytes> Datagrams()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Datagrams;
    }

private:
    void Run()
    {
        for (;;) {
            pollfd fds[2] = {{m_Wake.Get(), POLLIN, 0}, {m_Socket.Get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[0].revents != 0)
                return;
            uint8_t buffer[2048];
            sockaddr_in from{};
            socklen_t fromLen = sizeof(from);
            ssize_t n = ::recvfrom(m_Socket.Get(), buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from),
                                   &fromLen);
            if (n < 0)
                continue;
            Bytes datagram(buffer, buffer + n);
            std::vector<Bytes> replies;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Datagrams.push_back(datagram);
                if (m_Responder)
                    replies = m_Responder(datagram);
            }
            for (const Bytes& reply : replies)
                ::sendto(m_Socket.Get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
        }
    }

    UniqueFd m_Socket;
    UniqueFd m_Wake;
    uint16_t m_Port = 0;
    std::mutex m_Mutex;
    Responder m_Responder;
    std::vector<Bytes> m_Datagrams;
    std::thread m_Thread;
};
