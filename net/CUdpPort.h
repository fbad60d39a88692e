#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "net/CSocketGate.h"
#include "net/INetPort.h"

// UDP implementation of the port: every datagram goes to the configured address (which may
// be a broadcast address), every datagram that reaches the socket is taken. No pauses, no
// retries, no purge. The socket is not bound explicitly: the first Write binds it to an
// ephemeral port, so a Read before the first Write fails at once with EINVAL.
//
// A time-out leaves 258 in m_dwLastError; a datagram larger than the buffer EMSGSIZE; a
// zero-length datagram makes Read fail with m_dwLastError 0. Close from another thread
// ends a waiting Read (the socket lives in a CSocketGate, see there).
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
    // an Open that cannot tie fails with the errno value in m_dwLastError.
    void SetInterface(const std::string& name);
    // With `peerOnly`, a port opened for a unicast destination takes datagrams only from
    // that address and port (the socket is connected to it); other senders' datagrams never
    // reach a Read. A broadcast destination is not affected. Takes effect at the next Open.
    void SetPeerOnly(bool peerOnly) { m_bPeerOnly.store(peerOnly); }
    // True while the open socket is connected to its destination (see SetPeerOnly).
    bool IsPeerOnly() const { return m_bConnected.load(); }
    // A pollable descriptor (or -1) that, once readable, ends a waiting Read or Write at
    // once with ECANCELED: a stop request from another thread. Not owned.
    void SetCancelHandle(int fd) { m_nCancelFd.store(fd); }
    // Read that also reports the sender's IPv4 address (network byte order) in `*sender`.
    bool ReadFrom(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs, uint32_t* sender);

    bool IsOpen() const;
    // The descriptor, for tests that inspect socket options (-1 when closed). Do not keep it.
    int NativeHandleForTest() const;

private:
    sockaddr_in RemoteAddr() const;
    std::string Interface() const;
    // Connects `fd` to the destination; false with errno set.
    bool ConnectToPeer(int fd);

    CSocketGate m_Socket;
    mutable std::mutex m_AddrLock;
    sockaddr_in m_RemoteAddr{};
    std::string m_strInterface; // guarded by m_AddrLock
    std::atomic<int> m_nCancelFd{-1};
    std::atomic<bool> m_bPeerOnly{false};
    std::atomic<bool> m_bConnected{false};
};
