#include "platform/CFileMapping.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

CFileMapping::~CFileMapping() { Close(); }

void CFileMapping::Close()
{
    if (m_pData != nullptr)
        munmap(const_cast<uint8_t*>(m_pData), m_nSize);
    m_pData = nullptr;
    m_nSize = 0;
    m_bOpen = false;
}

bool CFileMapping::Open(const std::string& path)
{
    Close();
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; it is refused below.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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
    if (st.st_size == 0) {
        m_bOpen = true;
        return true;
    }
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd.Get(), 0);
    if (p == MAP_FAILED) {
        m_nError = errno;
        return false;
    }
    m_pData = static_cast<const uint8_t*>(p);
    m_nSize = static_cast<size_t>(st.st_size);
    m_bOpen = true;
    return true;
}
