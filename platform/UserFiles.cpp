#include "platform/UserFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* SYSTEM_TEMP_DIRECTORY = "/tmp";

std::string WithSlash(std::string dir)
{
    if (dir.empty() || dir.back() != '/')
        dir.push_back('/');
    return dir;
}

bool Refuse(std::string* why, const std::string& text)
{
    if (why)
        *why = text;
    return false;
}

// The directory named by $TMPDIR, which the user chose: it only has to be a directory.
bool CheckChosenDirectory(const std::string& dir, std::string* why)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return Refuse(why, "The temporary directory " + dir + " (TMPDIR) cannot be used: " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return Refuse(why, "The temporary directory " + dir + " (TMPDIR) is not a directory");
    return true;
}

// The per-user directory below the shared temporary directory: made on first use, and
// otherwise trusted only when it is a directory of the user's own reached without a link.
bool PreparePrivateDirectory(const std::string& dir, std::string* why)
{
    const std::string refused = "The temporary directory " + dir + " cannot be used: ";
    if (::mkdir(dir.c_str(), 0700) == 0)
        return true;
    if (errno != EEXIST)
        return Refuse(why, refused + std::strerror(errno));
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        return Refuse(why, refused + std::strerror(errno));
    if (S_ISLNK(st.st_mode))
        return Refuse(why, refused + "it is a symbolic link");
    if (!S_ISDIR(st.st_mode))
        return Refuse(why, refused + "it is not a directory");
    if (st.st_uid != ::geteuid())
        return Refuse(why, refused + "it belongs to another user");
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
        return Refuse(why, refused + "its permissions cannot be narrowed: " + std::strerror(errno));
    return true;
}

} // namespace

std::string GetTempDirectory(std::string* why)
{
    const char* chosen = std::getenv("TMPDIR");
    if (chosen && *chosen) {
        std::string dir = chosen;
        return CheckChosenDirectory(dir, why) ? WithSlash(dir) : std::string();
    }
    return UserTempDirectoryBelow(SYSTEM_TEMP_DIRECTORY, why);
}

std::string UserTempDirectoryBelow(const std::string& base, std::string* why)
{
    const std::string dir = WithSlash(base) + USER_TEMP_PREFIX + std::to_string(::geteuid());
    return PreparePrivateDirectory(dir, why) ? WithSlash(dir) : std::string();
}

CUniqueFd OpenUserFile(const std::string& path, int flags, bool create)
{
    // O_NONBLOCK: a FIFO planted under our name must not stall the open (nor later reads).
    const bool truncate = (flags & O_TRUNC) != 0;
    int openFlags = (flags & ~O_TRUNC) | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (create)
        openFlags |= O_CREAT;
    CUniqueFd fd(::open(path.c_str(), openFlags, 0600));
    if (!fd.Valid()) {
        if (errno == ENXIO) // a FIFO without a reader, or a socket
            errno = EINVAL;
        return fd;
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0)
        return CUniqueFd();
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return CUniqueFd();
    }
    if (st.st_uid != geteuid()) {
        errno = EPERM;
        return CUniqueFd();
    }
    // A second name (a hard link someone made to a file of their choosing) would make us
    // write to that file as a link would.
    if (st.st_nlink > 1) {
        errno = EMLINK;
        return CUniqueFd();
    }
    const int statusFlags = fcntl(fd.Get(), F_GETFL);
    if (statusFlags < 0 || fcntl(fd.Get(), F_SETFL, statusFlags & ~O_NONBLOCK) != 0)
        return CUniqueFd();
    if (truncate && ftruncate(fd.Get(), 0) != 0)
        return CUniqueFd();
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
