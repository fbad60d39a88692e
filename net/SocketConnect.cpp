#include "net/SocketConnect.h"

#include <poll.h>
#include <sys/socket.h>
#include <cerrno>
#include <vector>

#include "platform/Clock.h"

int ConnectWithDeadline(int fd, const sockaddr_in& peer, uint32_t timeoutMs, std::initializer_list<int> cancelFds)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return 0;
    if (errno != EINPROGRESS && errno != EINTR)
        return errno;
    std::vector<pollfd> fds = {{fd, POLLOUT, 0}};
    for (int cancel : cancelFds)
        fds.push_back({cancel, POLLIN, 0}); // poll() skips a negative descriptor
    const uint32_t start = GetTickCount();
    for (;;) {
        uint32_t left = INFINITE;
        if (timeoutMs != INFINITE) {
            const uint32_t elapsed = TicksSince(start);
            if (elapsed >= timeoutMs)
                return ETIMEDOUT;
            left = timeoutMs - elapsed;
        }
        const int rc = ::poll(fds.data(), fds.size(), ScaledPollTimeout(left));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return errno;
        if (rc == 0)
            continue; // the loop's own clock decides whether the time is up
        if (fds[0].revents == 0)
            return ECANCELED;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return errno;
        return error;
    }
}
