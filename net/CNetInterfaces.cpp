#include "net/CNetInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <cerrno>
#include <cstring>

#include <algorithm>

#include "platform/ByteOrder.h"

namespace {

uint32_t HostOrder(const std::array<uint8_t, 4>& a) { return ReadBe32(a.data()); }

std::array<uint8_t, 4> FromHostOrder(uint32_t v)
{
    std::array<uint8_t, 4> bytes{};
    WriteBe32(bytes.data(), v);
    return bytes;
}

uint32_t MaskOf(int prefixLength)
{
    if (prefixLength <= 0)
        return 0;
    if (prefixLength >= 32)
        return 0xFFFFFFFFu;
    return 0xFFFFFFFFu << (32 - prefixLength);
}

std::array<uint8_t, 4> AddressOf(const sockaddr* sa)
{
    sockaddr_in in{};
    std::memcpy(&in, sa, sizeof in);
    return FromHostOrder(ntohl(in.sin_addr.s_addr));
}

int PrefixOf(const sockaddr* netmask)
{
    if (netmask == nullptr)
        return 32;
    const uint32_t mask = HostOrder(AddressOf(netmask));
    int bits = 0;
    for (uint32_t m = mask; (m & 0x80000000u) != 0; m <<= 1)
        ++bits;
    return bits;
}

std::string DottedText(const std::array<uint8_t, 4>& a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

} // namespace

bool NetInterface::Contains(const std::array<uint8_t, 4>& target) const
{
    const uint32_t mask = MaskOf(prefixLength);
    return (HostOrder(address) & mask) == (HostOrder(target) & mask);
}

std::string NetInterface::SubnetText() const
{
    return DottedText(FromHostOrder(HostOrder(address) & MaskOf(prefixLength))) + "/" + std::to_string(prefixLength);
}

std::string NetInterface::Describe() const
{
    std::string text = name + " " + DottedText(address) + "/" + std::to_string(prefixLength);
    if (!up)
        text += " (down)";
    else if (!running)
        text += " (no link)";
    return text;
}

CNetInterfaces::CNetInterfaces(std::vector<NetInterface> entries, std::vector<std::string> otherNames)
    : m_Entries(std::move(entries)), m_OtherNames(std::move(otherNames))
{
}

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
        NetInterface entry;
        entry.name = ifa->ifa_name;
        entry.address = AddressOf(ifa->ifa_addr);
        entry.prefixLength = PrefixOf(ifa->ifa_netmask);
        entry.up = (ifa->ifa_flags & IFF_UP) != 0;
        entry.running = entry.up && (ifa->ifa_flags & IFF_RUNNING) != 0;
        entry.loopback = (ifa->ifa_flags & IFF_LOOPBACK) != 0;
        if ((ifa->ifa_flags & IFF_BROADCAST) != 0 && ifa->ifa_broadaddr != nullptr &&
            ifa->ifa_broadaddr->sa_family == AF_INET) {
            entry.broadcast = AddressOf(ifa->ifa_broadaddr);
            entry.hasBroadcast = true;
        }
        entries.push_back(std::move(entry));
    }
    freeifaddrs(list);
    std::vector<std::string> others;
    for (const std::string& name : names) {
        if (std::none_of(entries.begin(), entries.end(), [&](const NetInterface& e) { return e.name == name; }))
            others.push_back(name);
    }
    return CNetInterfaces(std::move(entries), std::move(others));
}

const NetInterface* CNetInterfaces::Find(const std::string& name) const
{
    for (const NetInterface& entry : m_Entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

bool CNetInterfaces::Exists(const std::string& name) const
{
    return Find(name) != nullptr || std::find(m_OtherNames.begin(), m_OtherNames.end(), name) != m_OtherNames.end();
}

std::vector<NetInterface> CNetInterfaces::UpNonLoopback() const
{
    std::vector<NetInterface> result;
    std::copy_if(m_Entries.begin(), m_Entries.end(), std::back_inserter(result),
                 [](const NetInterface& e) { return e.up && !e.loopback; });
    return result;
}

std::vector<NetInterface> CNetInterfaces::OnSubnetOf(const std::array<uint8_t, 4>& target) const
{
    std::vector<NetInterface> result;
    std::copy_if(m_Entries.begin(), m_Entries.end(), std::back_inserter(result),
                 [&](const NetInterface& e) { return e.up && e.Contains(target); });
    return result;
}

std::string CNetInterfaces::DescribeAll() const
{
    std::string text;
    for (const NetInterface& entry : m_Entries)
        text += (text.empty() ? "" : ", ") + entry.Describe();
    for (const std::string& name : m_OtherNames)
        text += (text.empty() ? "" : ", ") + name + " (no IPv4 address)";
    return text.empty() ? std::string("none") : text;
}
