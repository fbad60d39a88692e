#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/HdlcBytes.h"
#include "tests/support/Loopback.h"

namespace kivtest {

// A UDP peer on 127.0.0.`lastOctet` (port bound to 0 and read back, or the port given). A
// thread of its own keeps every datagram it receives, with its sender and arrival time (when
// the kernel queued it, so arrivals at two peers compare in the order they were sent; on
// Windows, which stamps nothing, when the peer read it), and
// answers each with what the responder returns, sent back to the sender.
class UdpPeer {
public:
    struct Datagram {
        Bytes bytes;
        Ipv4Endpoint from;
        std::chrono::steady_clock::time_point at;
    };
    using Responder = std::function<std::vector<Bytes>(const Bytes& datagram)>;

    explicit UdpPeer(uint8_t lastOctet = 1, uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    // False when the address could not be bound (a given port in use).
    bool Valid() const { return m_Socket.Valid(); }
    uint16_t Port() const { return m_nPort; }

    void SetResponder(Responder responder);

    // Every datagram received so far.
    std::vector<Bytes> Datagrams();
    std::vector<Datagram> Arrivals();
    bool WaitDatagrams(size_t count, int waitMs = GUARD_MS);

    // The next datagram not yet taken by Receive (its sender in `from`); false when none
    // arrives within `waitMs` real ms.
    bool Receive(std::string& data, Ipv4Endpoint& from, int waitMs = GUARD_MS);

    bool SendTo(const Ipv4Endpoint& to, const std::string& data);

private:
    void Run();

    CSocketHandle m_Socket;
    uint16_t m_nPort = 0;
    StopSignal m_Stop;
    std::mutex m_Mutex;
    std::condition_variable m_Cond;
    Responder m_Responder;
    std::vector<Datagram> m_Datagrams;
    size_t m_nTaken = 0;
    std::thread m_Thread;
};

} // namespace kivtest
