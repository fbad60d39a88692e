#include "platform/FileLock.h"

#include <sys/file.h>
#include <cerrno>

bool LockWholeFile(int fd)
{
    int rc;
    do {
        rc = flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool TryLockWholeFile(int fd)
{
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}
