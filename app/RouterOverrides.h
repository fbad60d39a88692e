#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/RouterAddress.h"

// Where the router is looked for. The defaults are the real LAN: discovery to
// 192.168.1.255 then 255.255.255.255, router port 1280 (UDP and TCP), Telnet port 23.
// Tests and the demo point them at loopback.
struct RouterOverrides {
    std::vector<std::array<uint8_t, 4>> targets; // discovery targets, three tries each
    uint16_t routerPort = ROUTER_PORT;
    uint16_t telnetPort = TELNET_PORT;
    // Network interface every socket is tied to (empty: the system chooses by route).
    std::string interfaceName;
    // True when the targets were chosen by the user, not the defaults; an interface then
    // leaves them as they are.
    bool bTargetsGiven = false;
    // A time scale other than 1 may drive a router that is not on loopback.
    bool timeScaleAnyRouter = false;

    RouterOverrides();
};

// Parses a comma-separated list of dotted addresses. False (and `targets` unchanged) when
// any item is not an address or the list is empty.
bool ParseTargetList(const std::string& text, std::vector<std::array<uint8_t, 4>>& targets);

// Defaults overridden by KIV_DISCOVERY_TARGETS, KIV_ROUTER_PORT, KIV_TELNET_PORT and
// KIV_INTERFACE (taken as it is; see UseInterface), and timeScaleAnyRouter set by
// KIV_TIME_SCALE_ANY_ROUTER=1.
// A malformed value is ignored with a message in `error` (empty when all were fine).
RouterOverrides LoadRouterOverrides(std::string* error = nullptr);

class CNetInterfaces;

// Checks `overrides.interfaceName` against `interfaces`: it must name an interface that
// has an IPv4 address and is up. Then, unless the user chose the targets, discovery goes to
// that interface's broadcast address and then 255.255.255.255. False with a message that
// lists the interfaces there are. An empty name is accepted and changes nothing.
bool ResolveInterface(RouterOverrides& overrides, const CNetInterfaces& interfaces, std::string* error);

// ResolveInterface on this machine's interfaces, then makes sure sockets can be tied to
// the interface (older kernels refuse it to ordinary programs).
bool UseInterface(RouterOverrides& overrides, std::string* error);
