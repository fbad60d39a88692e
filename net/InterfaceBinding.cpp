#include "net/InterfaceBinding.h"

#include <sys/socket.h>
#include <cerrno>
#include <cstring>

#include "platform/CUniqueFd.h"

bool TieSocketToInterface(int fd, const std::string& interfaceName)
{
    if (interfaceName.empty())
        return true;
    return ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                        static_cast<socklen_t>(interfaceName.size())) == 0;
}

int ProbeInterfaceTie(const std::string& interfaceName)
{
    CUniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        return errno;
    return TieSocketToInterface(fd.Get(), interfaceName) ? 0 : errno;
}

std::string ExplainTieError(const std::string& interfaceName, int err)
{
    std::string text = "cannot tie sockets to the interface " + interfaceName + ": " + std::strerror(err) + ".";
    if (err == EPERM || err == EACCES) {
        text +=
            " Linux kernels before 5.7 allow this only to privileged programs: run the program as root, "
            "give it the CAP_NET_RAW capability (setcap cap_net_raw+ep PROGRAM), or use a newer kernel.";
    }
    return text;
}
