#include "net/Ipv4Text.h"

#include <arpa/inet.h>

bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder)
{
    // The longest dotted address has 15 characters; anything over 24 was never an address.
    if (text.empty() || text.size() > 24 || text.find('\0') != std::string::npos)
        return false;
    in_addr addr{};
    // inet_pton takes exactly four decimal parts, unlike the older parsers that also
    // accept "127.1" or hexadecimal forms.
    if (inet_pton(AF_INET, text.c_str(), &addr) != 1)
        return false;
    *networkOrder = addr.s_addr;
    return true;
}

int LastOctet(uint32_t networkOrder) { return static_cast<int>(ntohl(networkOrder) & 0xFFu); }

sockaddr_in MakeIpv4SocketAddress(uint32_t networkOrder, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = networkOrder;
    return address;
}
