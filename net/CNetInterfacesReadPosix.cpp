// CNetInterfaces::ReadSystem on POSIX: the interfaces and their IPv4 addresses from
// getifaddrs.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/CNetInterfaces.h"
#include "platform/ByteOrder.h"

namespace {

std::array<uint8_t, 4> AddressOf(const sockaddr* sa)
{
    sockaddr_in in{};
    std::memcpy(&in, sa, sizeof in);
    std::array<uint8_t, 4> bytes{};
    WriteBe32(bytes.data(), ntohl(in.sin_addr.s_addr));
    return bytes;
}

int PrefixOf(const sockaddr* netmask)
{
    if (netmask == nullptr)
        return 32;
    const uint32_t mask = ReadBe32(AddressOf(netmask).data());
    int bits = 0;
    for (uint32_t m = mask; (m & 0x80000000u) != 0; m <<= 1)
        ++bits;
    return bits;
}

// The interface entry of one IPv4 address of getifaddrs' list.
NetInterface EntryOf(const ifaddrs& ifa)
{
    NetInterface entry;
    entry.name = ifa.ifa_name;
    entry.address = AddressOf(ifa.ifa_addr);
    entry.prefixLength = PrefixOf(ifa.ifa_netmask);
    entry.up = (ifa.ifa_flags & IFF_UP) != 0;
    entry.running = entry.up && (ifa.ifa_flags & IFF_RUNNING) != 0;
    entry.loopback = (ifa.ifa_flags & IFF_LOOPBACK) != 0;
    if ((ifa.ifa_flags & IFF_BROADCAST) != 0 && ifa.ifa_broadaddr != nullptr &&
        ifa.ifa_broadaddr->sa_family == AF_INET) {
        entry.broadcast = AddressOf(ifa.ifa_broadaddr);
        entry.hasBroadcast = true;
    }
    return entry;
}

} // namespace

CNetInterfaces CNetInterfaces::ReadSystem(int* error)
{
    if (error != nullptr)
        *error = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        if (error != nullptr)
            *error = errno;
        return CNetInterfaces();
    }
    std::vector<NetInterface> entries;
    std::vector<std::string> names;
    for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
        if (ifa->ifa_name == nullptr)
            continue;
        if (std::find(names.begin(), names.end(), ifa->ifa_name) == names.end())
            names.emplace_back(ifa->ifa_name);
        if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        entries.push_back(EntryOf(*ifa));
    }
    freeifaddrs(list);
    std::vector<std::string> others;
    for (const std::string& name : names) {
        if (std::none_of(entries.begin(), entries.end(), [&](const NetInterface& e) { return e.name == name; }))
            others.push_back(name);
    }
    return CNetInterfaces(std::move(entries), std::move(others));
}
