#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "net/CSocketGate.h"
#include "net/INetPort.h"
#include "net/Socket.h"

// UDP implementation of the port: every datagram goes to the configured address (which may
// be a broadcast address), every datagram that reaches the socket is taken. No pauses, no
// retries, no purge. The socket is not bound explicitly: the first Write binds it to an
// ephemeral port, so a Read before the first Write fails at once with InvalidArgument.
//
// A time-out leaves WaitCode::TimedOut as the last error; a datagram larger than the buffer
// MessageTooLong; a zero-length datagram makes Read fail with no error. Close from another
// thread ends a waiting Read (the socket lives in a CSocketGate, see there).
class CUdpPort : public INetPort {
public:
    CUdpPort();
    ~CUdpPort() override;
    CUdpPort(const CUdpPort&) = delete;
    CUdpPort& operator=(const CUdpPort&) = delete;

    bool Write(const void* data, uint32_t length, uint32_t timeoutMs) override;
    bool Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs) override;
    bool Close() override;
    // Accepts a dotted IPv4 address; "255.255.255.255" is the limited broadcast address.
    // On an open port it redirects the following writes (and, for a peer-only port, the
    // datagrams taken).
    bool SetConfig(const std::string& address, uint16_t port) override;
    // Opens a datagram socket; sets SO_BROADCAST when the destination's last component is
    // 255, and connects it to a unicast destination when the port is peer-only.
    bool Open() override;
    int GetPortType() override { return PORT_TYPE_UDP; }

    // Ties the sockets opened from now on to the network interface `name` (empty: none);
    // an Open that cannot tie fails with the system's error.
    void SetInterface(const std::string& name);
    // With `peerOnly`, a port opened for a unicast destination takes datagrams only from
    // that address and port (the socket is connected to it); other senders' datagrams never
    // reach a Read. A broadcast destination is not affected. Takes effect at the next Open.
    void SetPeerOnly(bool peerOnly) { m_bPeerOnly.store(peerOnly); }
    // True while the open socket is connected to its destination (see SetPeerOnly).
    bool IsPeerOnly() const { return m_bConnected.load(); }
    // An event (or null; not owned) that, once set, ends a waiting Read or Write at once
    // with SocketErrc::Cancelled: a stop request from another thread.
    void SetCancelHandle(const CWsaEvent* stop) { m_pCancel.store(stop); }
    // Read that also reports the sender's IPv4 address (network byte order) in `*sender`.
    bool ReadFrom(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs, uint32_t* sender);

    bool IsOpen() const;
    // True when the open socket may send to broadcast addresses (false when closed).
    bool IsBroadcastEnabled() const;

private:
    Ipv4Endpoint RemoteAddr() const;
    std::string Interface() const;
    // Opens, ties and sets up a new socket for the destination; inside the gate.
    std::error_code OpenLocked(CSocketHandle& socket);
    // True for an error that a connected socket reports for an earlier datagram its peer
    // refused (an ICMP message): no reason to fail this send or receive.
    bool IsEarlierRefusal(const std::error_code& error) const;

    CSocketGate m_Socket;
    mutable std::mutex m_AddrLock;
    Ipv4Endpoint m_RemoteAddr{};
    std::string m_strInterface; // guarded by m_AddrLock
    std::atomic<const CWsaEvent*> m_pCancel{nullptr};
    std::atomic<bool> m_bPeerOnly{false};
    std::atomic<bool> m_bConnected{false};
};
