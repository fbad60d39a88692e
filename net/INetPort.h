#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>

#include "net/NetError.h"

// The abstract port through which every byte to and from the router travels. A port is a
// thin synchronous layer over one socket: each Write and Read carries its own time-out in
// (scaled) milliseconds, INFINITE waits without limit. Every operation answers true or
// false and leaves the reason for a failure in the port's last error: a system error (the
// socket call's own), or a wait code (WaitCode: timed out, purged, I/O completion), two
// kinds that never stand for each other (net/NetError.h).
//
// The last error is kept in one atomic word because a reader thread and a writer thread
// update it at the same time.
class INetPort {
public:
    static constexpr int PORT_TYPE_UDP = 1;
    static constexpr int PORT_TYPE_TCP = 2;

    virtual ~INetPort() = default;

    virtual bool Write(const void* data, uint32_t length, uint32_t timeoutMs) = 0;
    virtual bool Read(void* buffer, uint32_t size, uint32_t* count, uint32_t timeoutMs) = 0;
    virtual bool Close() = 0;
    virtual bool SetConfig(const std::string& address, uint16_t port) = 0;
    virtual bool Open() = 0;
    virtual int GetPortType() = 0;
    virtual bool Purge() { return true; }
    virtual bool Reserved() { return false; }

    // The reason of the last failure (empty after a success).
    std::error_code LastError() const;
    void SetLastError(std::error_code error);

private:
    // The error's kind (system, wait code, generic) in the high half, its value in the low.
    std::atomic<uint64_t> m_LastError{0};
};
