#include "sim/CSimContext.h"

#include "platform/ByteOrder.h"
#include "wire/ImageType.h"
#include "wire/RouterAddress.h"
#include "wire/RouterKindBits.h"

CSimContext::CSimContext(const CSimConfig& config)
    : m_Config(config), m_Module(m_Config, m_Transcript), m_strBoot(config.bootVersion), m_strApp(config.appVersion),
      m_Random(config.seed)
{
}

uint32_t CSimContext::DrawLatency()
{
    if (m_Config.latencyMaxMs == 0)
        return 0;
    // Drawn by hand from the raw generator: the standard distributions may differ between
    // library versions, and a seed must replay the same delays everywhere.
    const uint64_t span = uint64_t(m_Config.latencyMaxMs) - m_Config.latencyMinMs + 1;
    return m_Config.latencyMinMs + static_cast<uint32_t>(m_Random() % span);
}

std::array<uint8_t, 4> CSimContext::RouterIp(const std::array<uint8_t, 4>& arrivedOn) const
{
    std::array<uint8_t, 4> own{};
    ParseIpv4(m_Config.address, own); // checked on the command line
    return own == std::array<uint8_t, 4>{} ? arrivedOn : own;
}

std::string CSimContext::DiscoveryText() const
{
    return m_Config.discoveryText.empty() ? m_strApp : m_Config.discoveryText;
}

void CSimContext::RouterImageFlashed(uint32_t kindBits, const std::string& version)
{
    const uint32_t type = RouterImageType(kindBits);
    const char* component = "application";
    if (type == IMG_BOOT) {
        m_strBoot = version;
        component = "boot";
    } else if (type == IMG_CUSTOMIZATION) {
        component = "customization"; // the check shows the application's version for it
    } else {
        m_strApp = version;
    }
    m_Transcript.Event("router", 0, "router image flashed", {{"component", component}, {"version", version}});
}
