#include "app/SocketStartup.h"

#include <cstdio>

#include "net/Socket.h"
#include "platform/SystemError.h"
#include "res/Resources.h"

namespace {
constexpr uint32_t IDS_WINSOCK_VERSION = 138;
} // namespace

std::string SocketLibraryProblem(const CSocketLibrary& sockets)
{
    if (sockets.Error() != 0)
        return SystemErrorText(static_cast<uint32_t>(sockets.Error()));
    if (sockets.RightVersion())
        return std::string();
    char text[256];
    std::snprintf(text, sizeof text, LoadStringResource(IDS_WINSOCK_VERSION).c_str(), sockets.MajorVersion(),
                  sockets.MinorVersion());
    return text;
}
