// CReadOnlyFile on Windows: CreateFileW with read sharing only, so that no program can
// change or shorten the file while it is open, and ReadFile at an offset.
#include "platform/CReadOnlyFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/SystemError.h"
#include "platform/WideText.h"

void CReadOnlyFile::Close()
{
    m_Fd.Reset();
    m_nSize = 0;
}

bool CReadOnlyFile::Open(const std::string& path)
{
    Close();
    HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_nError = ErrnoFromWindowsError(GetLastError());
        return false;
    }
    // Owned by the descriptor from here on: closing it closes the handle.
    CUniqueFd fd(_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY));
    if (!fd.Valid()) {
        CloseHandle(handle);
        m_nError = EMFILE;
        return false;
    }
    // A device or a pipe under a file's name (NUL, CON, \\.\pipe\...) is not an image.
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        m_nError = EINVAL;
        return false;
    }
    m_nError = 0;
    m_nSize = static_cast<uint64_t>(size.QuadPart);
    m_Fd = std::move(fd);
    return true;
}

int CReadOnlyFile::ReadAt(uint64_t offset, void* out, size_t length) const
{
    if (!m_Fd.Valid())
        return EBADF;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(m_Fd.Get()));
    auto* to = static_cast<uint8_t*>(out);
    while (length > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        DWORD n = 0;
        if (!ReadFile(handle, to, chunk, &n, &at)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF)
                return ERROR_SHORT_FILE;
            return ErrnoFromWindowsError(error);
        }
        if (n == 0)
            return ERROR_SHORT_FILE;
        to += n;
        offset += n;
        length -= n;
    }
    return 0;
}

std::string CReadOnlyFile::ErrorText(int error)
{
    if (error == ERROR_SHORT_FILE)
        return "the file is shorter than when it was opened";
    return std::strerror(error);
}
