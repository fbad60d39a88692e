#include "platform/UserState.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/UserFiles.h"

namespace {

// Makes every missing directory of `dir`, each with mode 0700. False with errno set.
bool MakeDirectories(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace

std::string UserStateDirectory(std::string* why)
{
    const char* state = std::getenv("XDG_STATE_HOME");
    // A relative value is invalid by the XDG rules and is ignored.
    if (state != nullptr && state[0] == '/')
        return std::string(state) + (state[std::strlen(state) - 1] == '/' ? "" : "/");
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && user->pw_dir != nullptr) {
        home = user->pw_dir;
    }
    if (home.empty()) {
        if (why != nullptr)
            *why = "neither XDG_STATE_HOME nor a home directory is set";
        return std::string();
    }
    if (home.back() != '/')
        home += '/';
    return home + ".local/state/";
}

bool AppendUserLine(const std::string& path, const std::string& line, std::string& why)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) {
        why = path.substr(0, slash) + ": " + std::strerror(errno);
        return false;
    }
    return AppendLineToUserFile(path, line, why);
}
