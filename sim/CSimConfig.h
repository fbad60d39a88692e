#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/CFaultTable.h"
#include "wire/RouterAddress.h"

// Everything the simulator is told on its command line. Defaults are the router a tool
// meets out of the box: loopback only, versions older than the sample images.
class CSimConfig {
public:
    std::string address = "127.0.0.1";
    uint16_t routerPort = ROUTER_PORT; // UDP and TCP; 0 picks a free port
    uint16_t telnetPort = TELNET_PORT; // 0 picks a free port
    char family = 'A';
    std::string bootVersion = "1.0.5.0";
    std::string appVersion = "2.1.5.0"; // family B: "3.2.1.0" unless given
    std::string firmwareVersion = "11.608.10.01.00";
    std::string dashboardVersion = "16.200.10.01.00";
    std::string discoveryText; // empty: the router module's application version
    std::array<uint8_t, 6> mac{0x02, 0x4B, 0x49, 0x56, 0x00, 0x01};
    // Unlock codes the module accepts; by default those of the sample wireless images.
    std::vector<std::array<uint8_t, 8>> unlockCodes;
    bool forceLoad = false;
    bool offline = false;
    bool strict = false;
    uint32_t flashTimeMs = 3000;   // router image: data complete -> result packet
    uint32_t restartTimeMs = 5000; // module restart: silent for this long
    uint32_t regionBase = 0;       // unlocked region of the module's memory
    uint32_t regionSize = 0x10000000;
    uint32_t maxConnections = 8;     // per TCP service
    uint32_t idleTimeoutMs = 600000; // a connection silent this long is closed
    double timeScale = 0;            // 0: leave the process's time scale alone
    uint64_t seed = 1;               // seeds every random draw (answer latency)
    uint32_t latencyMinMs = 0;       // each answer on the router port waits a time drawn
    uint32_t latencyMaxMs = 0;       // from [min, max] ms (scaled) before it goes out
    std::string transcriptPath;
    CFaultTable faults;

    CSimConfig();

    // Parses the command line. Returns -1 to go on, or the exit status to end with (0 after
    // --help, 2 for a usage error); `output` then holds the text to print.
    int Parse(int argc, const char* const* argv, std::string& output);

    // "AA-BB-CC-DD-EE-FF" or with ':'; false when malformed.
    static bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac);
    // The unlock code as up to 8 characters of text (padded with zero bytes).
    static bool ParseUnlockCode(const std::string& text, std::array<uint8_t, 8>& code);
    static std::vector<std::string> DefaultUnlockCodes();
    // "MIN-MAX" or "MS" (milliseconds); false when malformed or MIN > MAX.
    static bool ParseLatency(const std::string& text, uint32_t& minMs, uint32_t& maxMs);
    bool AcceptsUnlockCode(const uint8_t code[8]) const;
};
