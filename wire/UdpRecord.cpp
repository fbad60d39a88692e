#include "wire/UdpRecord.h"

#include <algorithm>

void UdpRecord::GetIp(uint8_t ip[4]) const { std::copy_n(m_Bytes.begin() + IP_OFFSET, 4, ip); }

void UdpRecord::SetIp(const uint8_t ip[4]) { std::copy_n(ip, 4, m_Bytes.begin() + IP_OFFSET); }

void UdpRecord::GetMac(uint8_t mac[6]) const { std::copy_n(m_Bytes.begin() + MAC_OFFSET, 6, mac); }

void UdpRecord::SetMac(const uint8_t mac[6]) { std::copy_n(mac, 6, m_Bytes.begin() + MAC_OFFSET); }

bool UdpRecord::HasZeroMac() const
{
    return std::all_of(m_Bytes.begin() + MAC_OFFSET, m_Bytes.begin() + MAC_OFFSET + 6,
                       [](uint8_t b) { return b == 0; });
}

std::string UdpRecord::GetText() const
{
    std::string text;
    for (size_t i = TEXT_OFFSET; i < TEXT_OFFSET + TEXT_LENGTH && m_Bytes[i] != 0; ++i)
        text.push_back(char(m_Bytes[i]));
    return text;
}

void UdpRecord::SetText(const std::string& text)
{
    for (size_t i = 0; i < TEXT_LENGTH; ++i)
        m_Bytes[TEXT_OFFSET + i] = i < text.size() ? uint8_t(text[i]) : 0;
}
