#include "net/Ipv4Text.h"

#include <cstring>

bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder)
{
    // The longest dotted address has 15 characters; anything over 24 was never an address.
    if (text.empty() || text.size() > 24 || text.find('\0') != std::string::npos)
        return false;
    // Exactly four decimal parts, unlike the older parsers that also accept "127.1" or
    // hexadecimal forms; "010" is no part either (it reads as octal to some).
    uint8_t bytes[4] = {};
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return false;
        const size_t first = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - first < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const size_t digits = at - first;
        if (digits == 0 || value > 255 || (digits > 1 && text[first] == '0'))
            return false;
        bytes[part] = static_cast<uint8_t>(value);
    }
    if (at != text.size())
        return false;
    std::memcpy(networkOrder, bytes, sizeof bytes);
    return true;
}

int LastOctet(uint32_t networkOrder)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return bytes[3];
}
