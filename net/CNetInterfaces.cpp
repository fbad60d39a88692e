#include "net/CNetInterfaces.h"

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

const NetInterface* CNetInterfaces::Find(const std::string& name) const
{
    for (const NetInterface& entry : m_Entries) {
        if (entry.name == name || (!entry.adapterName.empty() && entry.adapterName == name))
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
