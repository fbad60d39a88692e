#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "sim/CSimConfig.h"
#include "sim/CTranscript.h"
#include "sim/CWirelessModule.h"

// The state every service of the simulator shares: the configuration, the transcript, the
// router module's versions and the wireless module. Used from the service thread only.
class CSimContext {
public:
    explicit CSimContext(const CSimConfig& config);

    const CSimConfig& Config() const { return m_Config; }
    CTranscript& Transcript() { return m_Transcript; }
    CWirelessModule& Module() { return m_Module; }

    // The router's own IPv4 address for records (first number first); `arrivedOn` stands in
    // when the simulator is bound to 0.0.0.0.
    std::array<uint8_t, 4> RouterIp(const std::array<uint8_t, 4>& arrivedOn) const;

    const std::string& BootVersion() const { return m_strBoot; }
    const std::string& AppVersion() const { return m_strApp; }
    // Text of the discovery reply: --discovery-text, else the application version.
    std::string DiscoveryText() const;

    // A router image has been flashed: the version of one whose kind bits name BOOT becomes
    // the boot version; Customization changes nothing (the check shows the application's
    // version for it); any other becomes the application version (family B has only that).
    void RouterImageFlashed(uint32_t kindBits, const std::string& version);

    // Numbers frames sent on the TCP channel, for the corrupt-fcs and drop-frame faults.
    uint32_t NextTcpFrameNumber() { return ++m_nTcpFrames; }
    // Numbers block write frames as they begin to arrive, for the reset-during-block fault.
    uint32_t NextBlockFrameNumber() { return ++m_nBlockFrames; }

    // The delay of the next answer on the router port: drawn from --latency with the
    // generator seeded by --seed (0 and no draw without --latency).
    uint32_t DrawLatency();

private:
    CSimConfig m_Config;
    CTranscript m_Transcript;
    CWirelessModule m_Module;
    std::string m_strBoot;
    std::string m_strApp;
    uint32_t m_nTcpFrames = 0;
    uint32_t m_nBlockFrames = 0;
    std::mt19937_64 m_Random;
};
