#include "platform/ProgramFile.h"

#include <unistd.h>

#include <climits>

std::string GetProgramPath()
{
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return {};
    return std::string(path, static_cast<size_t>(n));
}
