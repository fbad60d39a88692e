#pragma once

#include <array>
#include <cstdint>
#include <string>

// Where the router is reached: its ports, and IPv4 addresses as text.

// The router's UDP port (discovery and control records) and TCP port (the transfer
// channel), and its Telnet port.
constexpr uint16_t ROUTER_PORT = 1280;
constexpr uint16_t TELNET_PORT = 23;

// Parses a dotted IPv4 address: exactly four decimal numbers 0 to 255, separated by dots,
// none with a sign or a leading zero ("010" could be read as octal elsewhere), nothing
// before, between or after. False, and `address` unchanged, for anything else.
bool ParseIpv4(const std::string& text, std::array<uint8_t, 4>& address);

// "%d.%d.%d.%d" of an address, the first byte first.
std::string FormatIpv4(const std::array<uint8_t, 4>& address);
std::string FormatIpv4(const uint8_t address[4]);

// "%02X-%02X-%02X-%02X-%02X-%02X" of a MAC address, the first byte first.
std::string FormatMac(const std::array<uint8_t, 6>& mac);
std::string FormatMac(const uint8_t mac[6]);

// True for an address in 127.0.0.0/8.
bool IsLoopbackIpv4(const std::array<uint8_t, 4>& address);

// Parses a port number 1..65535 (decimal digits only). False for anything else.
bool ParsePort(const std::string& text, uint16_t& port);

// The router port: KIV_ROUTER_PORT when it holds a port number, else ROUTER_PORT. A value
// that is not a port number is ignored and `problem` (when given) says so; it is emptied
// otherwise.
uint16_t RouterPortSetting(std::string* problem = nullptr);
