#include "platform/UserFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

std::string GetTempDirectory()
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec || dir.empty())
        return std::string();
    std::string text = dir.string();
    if (text.back() != '/')
        text.push_back('/');
    return text;
}

UniqueFd OpenUserFile(const std::string& path, int flags, bool create)
{
    int openFlags = flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    if (create)
        openFlags |= O_CREAT;
    UniqueFd fd(::open(path.c_str(), openFlags, 0600));
    if (!fd.Valid())
        return fd;
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0)
        return UniqueFd();
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return UniqueFd();
    }
    if (st.st_uid != geteuid()) {
        errno = EPERM;
        return UniqueFd();
    }
    return fd;
}

size_t WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (n == 0) {
            errno = EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}
