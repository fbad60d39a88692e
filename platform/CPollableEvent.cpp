#include "platform/CPollableEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>

#include "platform/Clock.h"

CPollableEvent::CPollableEvent() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CPollableEvent::~CPollableEvent()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CPollableEvent::Set()
{
    if (m_fd < 0)
        return false;
    // The counter saturates harmlessly; a full counter (EAGAIN) is still "signalled".
    uint64_t one = 1;
    ssize_t n = write(m_fd, &one, sizeof one);
    return n == static_cast<ssize_t>(sizeof one) || errno == EAGAIN;
}

bool CPollableEvent::Reset()
{
    if (m_fd < 0)
        return false;
    uint64_t value = 0;
    while (read(m_fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
    }
    return true;
}

bool CPollableEvent::IsSet() const { return Wait(0); }

bool CPollableEvent::Wait(uint32_t ms) const
{
    if (m_fd < 0)
        return false;
    pollfd pfd{m_fd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&pfd, 1, ScaledPollTimeout(ms));
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (pfd.revents & POLLIN) != 0;
}
