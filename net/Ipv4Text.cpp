#include "net/Ipv4Text.h"

#include <array>
#include <cstring>

#include "wire/RouterAddress.h"

bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder)
{
    std::array<uint8_t, 4> address{};
    if (!ParseIpv4(text, address))
        return false;
    std::memcpy(networkOrder, address.data(), address.size());
    return true;
}

int LastOctet(uint32_t networkOrder)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return bytes[3];
}
