// Winsock 2 comes before the headers that build on it.
#include <winsock2.h>

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <memory>

#include "net/InterfaceBinding.h"
#include "platform/SystemError.h"
#include "platform/WideText.h"

namespace {

// The interface index of the adapter named `name` (its name or its friendly name); an
// error when there is none.
std::error_code FindAdapter(const std::string& name, ULONG& index)
{
    ULONG size = 16 * 1024;
    std::unique_ptr<uint8_t[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<uint8_t[]>(size);
        result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result == NO_ERROR) {
        for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter != nullptr;
             adapter = adapter->Next) {
            if (name == adapter->AdapterName || name == Utf8FromWide(adapter->FriendlyName)) {
                index = adapter->IfIndex;
                return {};
            }
        }
    } else if (result != ERROR_NO_DATA) {
        return {static_cast<int>(result), std::system_category()};
    }
    return SocketError(SocketErrc::NoSuchDevice);
}

} // namespace

std::error_code TieSocketToInterface(NativeSocket socket, const std::string& interfaceName)
{
    if (interfaceName.empty())
        return {};
    ULONG index = 0;
    if (const std::error_code error = FindAdapter(interfaceName, index))
        return error;
    // IP_UNICAST_IF takes the index in network byte order.
    const DWORD value = htonl(index);
    if (setsockopt(static_cast<SOCKET>(socket), IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&value),
                   sizeof value) != 0)
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
    if (err == SocketError(SocketErrc::NoSuchDevice).value())
        return "cannot tie sockets to the interface " + interfaceName + ": no adapter has that name.";
    return "cannot tie sockets to the interface " + interfaceName + ": " + SystemErrorText(static_cast<uint32_t>(err)) +
           ".";
}
