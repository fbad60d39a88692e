#include <fcntl.h>
#include <cerrno>
#include <cstring>

#include "platform/UserFiles.h"

// The parts of opening and appending to a user file that read the same on every system; the
// checks themselves are in UserFiles.cpp and UserFilesWin32.cpp.

std::string DescribeOpenError(const std::string& path, int error)
{
    switch (error) {
    case ELOOP: return path + " is a symbolic link";
    case EPERM: return path + " belongs to another user";
    case EINVAL: return path + " is not a regular file";
    case EMLINK: return path + " has more than one name (a hard link)";
    default: return path + ": " + std::strerror(error);
    }
}

bool AppendLineToUserFile(const std::string& path, const std::string& line, std::string& why)
{
    CUniqueFd fd = OpenUserFile(path, O_WRONLY | O_APPEND, true);
    if (!fd.Valid()) {
        why = DescribeOpenError(path, errno);
        return false;
    }
    // One write of the whole line: appends of several programs never interleave inside it.
    const std::string text = line + "\n";
    if (WriteAll(fd.Get(), text.data(), text.size()) != text.size()) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
