#include "platform/CReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

void CReadOnlyFile::Close()
{
    m_Fd.Reset();
    m_nSize = 0;
}

bool CReadOnlyFile::Open(const std::string& path)
{
    Close();
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; it is refused below.
    CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        m_nError = errno;
        return false;
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        m_nError = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        m_nError = EINVAL;
        return false;
    }
    m_nError = 0;
    m_nSize = static_cast<uint64_t>(st.st_size);
    m_Fd = std::move(fd);
    return true;
}

int CReadOnlyFile::ReadAt(uint64_t offset, void* out, size_t length) const
{
    if (!m_Fd.Valid())
        return EBADF;
    auto* to = static_cast<uint8_t*>(out);
    while (length > 0) {
        const ssize_t n = ::pread(m_Fd.Get(), to, length, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ERROR_SHORT_FILE;
        to += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return 0;
}

std::string CReadOnlyFile::ErrorText(int error)
{
    if (error == ERROR_SHORT_FILE)
        return "the file is shorter than when it was opened";
    return std::strerror(error);
}
