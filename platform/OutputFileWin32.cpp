#include "platform/OutputFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/SystemError.h"
#include "platform/WideText.h"

CUniqueFd CreateOutputFile(const std::string& path)
{
    // The link itself is opened, not its target, and then refused.
    HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoFromWindowsError(GetLastError());
        return CUniqueFd();
    }
    CUniqueFd fd(_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY));
    if (!fd.Valid()) {
        CloseHandle(handle);
        errno = EMFILE;
        return fd;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        errno = ErrnoFromWindowsError(GetLastError());
        return CUniqueFd();
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        errno = ELOOP;
        return CUniqueFd();
    }
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        errno = EINVAL;
        return CUniqueFd();
    }
    if (_chsize_s(fd.Get(), 0) != 0)
        return CUniqueFd();
    return fd;
}
