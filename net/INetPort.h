#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The abstract port through which every byte to and from the router travels. A port is a
// thin synchronous layer over one socket: each Write and Read carries its own time-out in
// (scaled) milliseconds, INFINITE waits without limit. Every operation answers true or
// false and leaves the reason for a failure in m_dwLastError (an errno value, or one of the
// wait codes 258 time-out, 1 purged, 192 I/O completion).
//
// m_dwLastError is atomic because a reader thread and a writer thread update it at the same
// time; read it as a number (comparisons, GetErrorText(port.m_dwLastError)) or with
// GetLastErrorCode() when passing it to a printf-style function.
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

    uint32_t GetLastErrorCode() const { return m_dwLastError.load(); }

    std::atomic<uint32_t> m_dwLastError{0};
};
