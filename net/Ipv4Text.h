#pragma once

#include <cstdint>
#include <string>

// Parses a dotted IPv4 address (ParseIpv4's rule) into network byte order. False for
// anything else (host names, short forms, hex, leading zeros, embedded NUL bytes).
bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder);

// Last component of an address held in network byte order (1 for 192.168.1.1).
int LastOctet(uint32_t networkOrder);
