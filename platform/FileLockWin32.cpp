#include "platform/FileLock.h"

#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/SystemError.h"

namespace {

bool LockWith(int fd, DWORD flags)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    // Every byte there is and will be: the file grows while it is held.
    OVERLAPPED from{};
    if (!LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &from)) {
        const DWORD error = GetLastError();
        errno = error == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : ErrnoFromWindowsError(error);
        return false;
    }
    return true;
}

} // namespace

bool LockWholeFile(int fd) { return LockWith(fd, LOCKFILE_EXCLUSIVE_LOCK); }

bool TryLockWholeFile(int fd) { return LockWith(fd, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY); }
