#include "platform/OutputFile.h"

#include <fcntl.h>

CUniqueFd CreateOutputFile(const std::string& path)
{
    return CUniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
}
