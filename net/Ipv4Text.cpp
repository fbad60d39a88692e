#include "net/Ipv4Text.h"

#include <array>

#include <arpa/inet.h>

#include "platform/ByteOrder.h"
#include "wire/RouterAddress.h"

bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder)
{
    std::array<uint8_t, 4> address{};
    if (!ParseIpv4(text, address))
        return false;
    *networkOrder = htonl(ReadBe32(address.data()));
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
