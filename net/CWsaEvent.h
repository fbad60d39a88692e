#pragma once

#include <cstdint>

#include "platform/NonCopyable.h"
#ifndef _WIN32
#include "platform/CPollableEvent.h"
#endif

// Manual-reset event that ends a socket wait at once: the purge signal of the TCP port, the
// socket gate's wake-up, a stop request. On Windows a WSA event, waited on together with a
// request's own event; on POSIX an eventfd (CPollableEvent), polled beside the socket.
// Created not signalled. Creation failure is not reported: IsValid() is then false, and
// every user tests it before use.
class CWsaEvent : public NonCopyable {
public:
#ifdef _WIN32
    using NativeHandle = void*; // a WSAEVENT
#else
    using NativeHandle = int; // a descriptor, readable while signalled
#endif

    CWsaEvent();
    ~CWsaEvent() override;

    bool IsValid() const;
    // The handle to wait on (a descriptor for poll(), or a WSAEVENT).
    NativeHandle Handle() const;

    bool Set();
    bool Reset();
    bool IsSet() const;
    // Waits up to `ms` scaled milliseconds; true when signalled. The signal stays set.
    bool Wait(uint32_t ms) const;

private:
#ifdef _WIN32
    void* m_hEvent;
#else
    CPollableEvent m_Event;
#endif
};
