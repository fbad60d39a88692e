#include "platform/FileLock.h"

#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/SystemError.h"

bool LockWholeFile(int fd)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    // Every byte there is and will be: the file grows while it is held.
    OVERLAPPED from{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from)) {
        errno = ErrnoFromWindowsError(GetLastError());
        return false;
    }
    return true;
}
