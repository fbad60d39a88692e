#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "net/CSocketGate.h"
#include "net/CWsaEvent.h"
#include "net/INetPort.h"
#include "net/Socket.h"

// TCP implementation of the port over one stream socket (the socket layer, net/Socket.h).
//
// Write sends the whole buffer in as many send requests as the stack takes, each with the
// full time-out. Read performs one receive request, whose wait also ends on the purge
// event. Every failing Read pauses the calling thread (100 ms, 1500 ms after a zero-byte
// receive: the peer closed its side); a Write that started a reconnection pauses 100 ms.
// A connection reset (or abort) seen by Read or Write reconnects once and the call fails.
//
// Thread safety: one thread may block in Read while others call Write, Purge, Close,
// Shutdown or Open. The socket lives in a CSocketGate: Open, Close and reconnections wait
// until no Read or Write uses the socket, waking any that is waiting, so a socket is never
// closed under another thread's operation. A reconnection happens only when the failed
// connection is still the current one, so a Close by the owner is never undone by a
// reconnection that was racing with it.
class CTcpPort : public INetPort {
public:
    static constexpr uint32_t PAUSE_AFTER_FAILURE_MS = 100;
    static constexpr uint32_t PAUSE_AFTER_ZERO_BYTES_MS = 1500;
    // How long a connection (a reconnection too) is waited for unless the owner says.
    static constexpr uint32_t DEFAULT_CONNECT_TIMEOUT_MS = 3000;

    CTcpPort();
    ~CTcpPort() override;
    CTcpPort(const CTcpPort&) = delete;
    CTcpPort& operator=(const CTcpPort&) = delete;

    bool Write(const void* data, uint32_t length, uint32_t timeoutMs) override;
    bool Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs) override;
    bool Close() override;
    // Accepts a dotted IPv4 address only; "255.255.255.255" is refused. A refused address
    // leaves the peer address zero (the next Open fails), the last error unchanged, and
    // the thread's socket error InvalidArgument.
    bool SetConfig(const std::string& address, uint16_t port) override;
    bool Open() override;
    int GetPortType() override { return PORT_TYPE_TCP; }
    // Ends a Read that waits (or the next Read that has to wait) with WaitCode::Purged.
    bool Purge() override;

    // Ties the connections made from now on (reconnections included) to the network
    // interface `name` (empty: none); a connection that cannot be tied fails with the
    // system's error.
    void SetInterface(const std::string& name);
    // How long Open (and a reconnection) waits for the connection, in scaled ms.
    void SetConnectTimeout(uint32_t timeoutMs) { m_nConnectTimeoutMs.store(timeoutMs); }
    // An event (or null; not owned) that, once set, ends a connection wait at once with
    // SocketErrc::Cancelled: a stop request from another thread.
    void SetCancelHandle(const CWsaEvent* stop) { m_pCancel.store(stop); }

    // True while the socket is open.
    bool IsOpen() const;
    // Shuts both directions of the open socket down; a Read waiting on it ends (without the
    // 1500 ms pause, SocketErrc::ShutDown). True when it did not fail.
    bool Shutdown();

protected:
    // The peer address as configured (for tests and traces).
    Ipv4Endpoint RemoteAddr() const;

private:
    // Replaces the socket of `failedGeneration` by a new connection; does nothing when
    // another thread has already closed or replaced it. True when a new connection is up.
    bool Reconnect(uint64_t failedGeneration);
    // Closes the socket in `ex` and connects a new one; inside the gate.
    bool ConnectLocked(CSocketGate::Exclusive& ex);
    int TraceId() const;
    // Traces and reports a failed receive (reconnecting after a reset); pauses.
    bool ReceiveFailed(const SocketTransfer& transfer, uint64_t generation);
    // A receive of no bytes: the peer closed its side, or this side shut the socket down.
    bool ZeroByteRead(uint64_t generation);
    // Traces and reports a failed send (reconnecting after a reset, then pausing).
    bool SendFailed(const SocketTransfer& transfer, uint64_t generation);
    // The pause of every failed Read.
    static bool ReadFailed();

    // Socket and its generation; the gate guards it (see the class comment).
    CSocketGate m_Socket;
    mutable std::mutex m_AddrLock;
    Ipv4Endpoint m_RemoteAddr{};
    std::string m_strInterface; // guarded by m_AddrLock
    CWsaEvent m_PurgeEvent;
    std::atomic<uint32_t> m_nConnectTimeoutMs{DEFAULT_CONNECT_TIMEOUT_MS};
    std::atomic<const CWsaEvent*> m_pCancel{nullptr};
};
