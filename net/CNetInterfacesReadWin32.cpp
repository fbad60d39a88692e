// CNetInterfaces::ReadSystem on Windows: the adapters and their IPv4 addresses from
// GetAdaptersAddresses. An adapter goes by its friendly name ("Ethernet", "Wi-Fi").
// Winsock 2 comes before the headers that build on it.
#include <winsock2.h>

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "net/CNetInterfaces.h"
#include "platform/ByteOrder.h"
#include "platform/SystemError.h"
#include "platform/WideText.h"

namespace {

constexpr ULONG FLAGS = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

NetInterface EntryOf(const IP_ADAPTER_ADDRESSES& adapter, const IP_ADAPTER_UNICAST_ADDRESS& unicast)
{
    NetInterface entry;
    entry.name = Utf8FromWide(adapter.FriendlyName);
    entry.adapterName = adapter.AdapterName;
    sockaddr_in in{};
    std::memcpy(&in, unicast.Address.lpSockaddr, sizeof in);
    WriteBe32(entry.address.data(), ntohl(in.sin_addr.s_addr));
    entry.prefixLength = unicast.OnLinkPrefixLength;
    entry.loopback = adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    entry.up = adapter.OperStatus != IfOperStatusDown;
    entry.running = adapter.OperStatus == IfOperStatusUp;
    if (entry.prefixLength < 32 && !entry.loopback) {
        const uint32_t host = entry.prefixLength <= 0 ? 0xFFFFFFFFu : 0xFFFFFFFFu >> entry.prefixLength;
        WriteBe32(entry.broadcast.data(), ReadBe32(entry.address.data()) | host);
        entry.hasBroadcast = true;
    }
    return entry;
}

} // namespace

CNetInterfaces CNetInterfaces::ReadSystem(int* error)
{
    if (error != nullptr)
        *error = 0;
    ULONG size = 16 * 1024;
    std::unique_ptr<uint8_t[]> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer = std::make_unique<uint8_t[]>(size);
        result =
            GetAdaptersAddresses(AF_INET, FLAGS, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    if (result != NO_ERROR && result != ERROR_NO_DATA) {
        if (error != nullptr)
            *error = static_cast<int>(result);
        return CNetInterfaces();
    }
    std::vector<NetInterface> entries;
    std::vector<std::string> others;
    if (result == NO_ERROR) {
        for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()); adapter != nullptr;
             adapter = adapter->Next) {
            const size_t before = entries.size();
            for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
                if (unicast->Address.lpSockaddr != nullptr && unicast->Address.lpSockaddr->sa_family == AF_INET)
                    entries.push_back(EntryOf(*adapter, *unicast));
            }
            if (entries.size() == before)
                others.push_back(Utf8FromWide(adapter->FriendlyName));
        }
    }
    return CNetInterfaces(std::move(entries), std::move(others));
}
