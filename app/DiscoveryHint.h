#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CNetInterfaces;

// Why no router may have answered a discovery, and what to try, in short sentences (one
// per line): which interfaces are up, whether any is on the subnet of the targets, two
// interfaces sharing it, and what to do (LAN port, --interface, --target, firewall).
// `interfaceName` is the interface the discovery was tied to (empty: none); `routerPort` the
// UDP port the router was asked on (its replies come from there).
std::vector<std::string> BuildDiscoveryHint(const CNetInterfaces& interfaces,
                                            const std::vector<std::array<uint8_t, 4>>& targets,
                                            const std::string& interfaceName, uint16_t routerPort);

// The lines joined with "\n".
std::string JoinHint(const std::vector<std::string>& lines);
