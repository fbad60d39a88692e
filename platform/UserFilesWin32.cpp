// The user's temporary directory and files on Windows. The directory is the user's own from
// GetTempPathW, which Windows makes private to the user (its access list admits the user,
// the administrators and the system), so the POSIX checks of a shared /tmp have no
// counterpart here: no per-user directory below it, no mode to narrow, no owner to compare
// (an elevated program's files belong to the administrators' group, not the user). What
// stays: a link (reparse point) at the last component is refused, as is anything that is
// not a file on disk (a directory, a device such as NUL, a pipe) and a file with a second
// name (a hard link, which any user may make to a file they can read); O_TRUNC is applied
// only after those checks.
#include "platform/UserFiles.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/SystemError.h"
#include "platform/WideText.h"

namespace {

bool Refuse(std::string* why, const std::string& text)
{
    if (why)
        *why = text;
    return false;
}

DWORD DesiredAccess(int flags)
{
    switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY: return GENERIC_WRITE;
    case O_RDWR: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
    }
}

// errno for a failed CreateFileW: a directory is refused as "not a regular file", as on POSIX.
int OpenErrno(const std::wstring& path, DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return EINVAL;
    }
    return ErrnoFromWindowsError(error);
}

// errno for a file that opened but must not be used, or 0.
int Unusable(HANDLE handle)
{
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return EINVAL;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return ErrnoFromWindowsError(GetLastError());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return ELOOP;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return EINVAL;
    // Writing through a second name would write to whichever file it was made for.
    if (info.nNumberOfLinks > 1)
        return EMLINK;
    return 0;
}

} // namespace

std::string GetTempDirectory(std::string* why)
{
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1) {
        Refuse(why, "The temporary directory cannot be found: " + SystemErrorText(GetLastError()));
        return {};
    }
    std::string dir = Utf8FromWide(buffer, length);
    if (dir.back() != '\\' && dir.back() != '/')
        dir.push_back('\\');
    const DWORD attributes = GetFileAttributesW(buffer);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Refuse(why, "The temporary directory " + dir + " cannot be used: " + SystemErrorText(GetLastError()));
        return {};
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Refuse(why, "The temporary directory " + dir + " is not a directory");
        return {};
    }
    return dir;
}

CUniqueFd OpenUserFile(const std::string& path, int flags, bool create)
{
    const std::wstring widePath = WideFromUtf8(path);
    HANDLE handle = CreateFileW(widePath.c_str(), DesiredAccess(flags),
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                create ? OPEN_ALWAYS : OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = OpenErrno(widePath, GetLastError());
        return CUniqueFd();
    }
    const int descriptorFlags = _O_BINARY | ((flags & O_APPEND) != 0 ? _O_APPEND : 0) |
                                ((flags & (O_WRONLY | O_RDWR)) == 0 ? _O_RDONLY : 0);
    CUniqueFd fd(_open_osfhandle(reinterpret_cast<intptr_t>(handle), descriptorFlags));
    if (!fd.Valid()) {
        CloseHandle(handle);
        errno = EMFILE;
        return fd;
    }
    if (const int error = Unusable(handle)) {
        errno = error;
        return CUniqueFd();
    }
    if ((flags & O_TRUNC) != 0 && _chsize_s(fd.Get(), 0) != 0)
        return CUniqueFd();
    return fd;
}

size_t WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const size_t chunk = size - done > 0x40000000u ? 0x40000000u : size - done;
        const int n = ::_write(fd, p + done, static_cast<unsigned int>(chunk));
        if (n < 0)
            break;
        if (n == 0) {
            errno = EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}
