#pragma once

#include <cstdint>
#include <string>

// Parses a dotted-decimal IPv4 address ("a.b.c.d", each part 0-255, nothing else) into
// network byte order. False for anything else (host names, short forms, hex, parts with a
// leading zero, text longer than 24 characters, embedded NUL bytes).
bool ParseDottedIpv4(const std::string& text, uint32_t* networkOrder);

// Last component of an address held in network byte order (1 for 192.168.1.1).
int LastOctet(uint32_t networkOrder);
