#pragma once

#include <cstdint>

#include "platform/NonCopyable.h"

// Manual-reset event over an eventfd, so that it can be waited on with poll() next to a
// socket. Creation failure leaves Handle() at -1; every user tests it before use.
class CPollableEvent : public NonCopyable {
public:
    CPollableEvent();
    ~CPollableEvent() override;

    bool Set();
    bool Reset();
    bool IsSet() const;
    // Waits up to `ms` scaled milliseconds; true when signalled. The signal stays set.
    bool Wait(uint32_t ms) const;
    // The descriptor to put into a pollfd (POLLIN while signalled), or -1.
    int Handle() const { return m_fd; }

private:
    int m_fd;
};
