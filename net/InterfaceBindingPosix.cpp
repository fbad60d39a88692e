#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "net/InterfaceBinding.h"

std::error_code TieSocketToInterface(NativeSocket socket, const std::string& interfaceName)
{
    if (interfaceName.empty())
        return {};
    if (::setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                     static_cast<socklen_t>(interfaceName.size())) != 0)
        return LastSocketError();
    return {};
}

int ProbeInterfaceTie(const std::string& interfaceName)
{
    CSocketHandle socket;
    if (const std::error_code error = OpenSocket(SocketType::Datagram, socket))
        return error.value();
    return TieSocketToInterface(socket.Get(), interfaceName).value();
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
