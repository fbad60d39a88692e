#pragma once

#include <cstdint>
#include <string>

#include <netinet/in.h>

// Parses a dotted IPv4 address (ParseIpv4's rule) into network byte order. False for
// anything else (host names, short forms, hex, leading zeros, embedded NUL bytes).
bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder);

// Last component of an address held in network byte order (1 for 192.168.1.1).
int LastOctet(uint32_t networkOrder);

// IPv4 socket address of a peer: address in network byte order, port in host order.
sockaddr_in MakeIpv4SocketAddress(uint32_t networkOrder, uint16_t port);
