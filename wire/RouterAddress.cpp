#include "wire/RouterAddress.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One number of a dotted address at `pos`: 1 to 3 digits, no leading zero, at most 255.
bool ParseOctet(const std::string& text, size_t& pos, uint8_t& octet)
{
    const size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && IsDigit(text[pos]) && pos - start < 3)
        value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    const size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0'))
        return false;
    if (pos < text.size() && IsDigit(text[pos]))
        return false; // a fourth digit
    octet = static_cast<uint8_t>(value);
    return true;
}

} // namespace

bool ParseIpv4(const std::string& text, std::array<uint8_t, 4>& address)
{
    std::array<uint8_t, 4> parsed{};
    size_t pos = 0;
    for (size_t i = 0; i < parsed.size(); ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.'))
            return false;
        if (!ParseOctet(text, pos, parsed[i]))
            return false;
    }
    if (pos != text.size())
        return false;
    address = parsed;
    return true;
}

std::string FormatIpv4(const uint8_t address[4])
{
    char text[20];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    return text;
}

std::string FormatIpv4(const std::array<uint8_t, 4>& address) { return FormatIpv4(address.data()); }

std::string FormatMac(const uint8_t mac[6])
{
    char text[24];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string FormatMac(const std::array<uint8_t, 6>& mac) { return FormatMac(mac.data()); }

bool IsLoopbackIpv4(const std::array<uint8_t, 4>& address) { return address[0] == 127; }

bool ParsePort(const std::string& text, uint16_t& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

uint16_t RouterPortSetting(std::string* problem)
{
    uint16_t port = ROUTER_PORT;
    const char* text = std::getenv("KIV_ROUTER_PORT");
    const bool ignored = text != nullptr && *text != '\0' && !ParsePort(text, port);
    if (problem != nullptr)
        *problem = ignored ? "KIV_ROUTER_PORT is not a port number; ignored." : "";
    return port;
}
