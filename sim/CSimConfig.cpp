#include "sim/CSimConfig.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <CLI/CLI.hpp>

#include "images/CSampleImage.h"
#include "images/PartHeader.h"
#include "wire/RouterAddress.h"

CSimConfig::CSimConfig()
{
    for (const std::string& text : DefaultUnlockCodes()) {
        std::array<uint8_t, 8> code{};
        ParseUnlockCode(text, code);
        unlockCodes.push_back(code);
    }
}

std::vector<std::string> CSimConfig::DefaultUnlockCodes()
{
    std::vector<std::string> codes;
    for (const SampleImage::SampleInfo& sample : SampleImage::GetSampleCatalogue())
        if (sample.m_nType == IMG_FIRMWARE || sample.m_nType == IMG_DASHBOARD)
            codes.push_back(sample.m_strUnlockCode);
    return codes;
}

bool CSimConfig::AcceptsUnlockCode(const uint8_t code[8]) const
{
    for (const auto& accepted : unlockCodes)
        if (std::memcmp(accepted.data(), code, accepted.size()) == 0)
            return true;
    return false;
}

bool CSimConfig::ParseMac(const std::string& text, std::array<uint8_t, 6>& mac)
{
    unsigned v[6];
    char sep[5];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x%c%2x%c%2x%c%2x%c%2x%c%2x%c", &v[0], &sep[0], &v[1], &sep[1], &v[2], &sep[2],
                    &v[3], &sep[3], &v[4], &sep[4], &v[5], &tail) != 11)
        return false;
    for (char c : sep)
        if (c != '-' && c != ':')
            return false;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(v[i]);
    return true;
}

bool CSimConfig::ParseUnlockCode(const std::string& text, std::array<uint8_t, 8>& code)
{
    if (text.size() > code.size())
        return false;
    code.fill(0);
    for (size_t i = 0; i < text.size(); ++i)
        code[i] = static_cast<uint8_t>(text[i]);
    return true;
}

bool CSimConfig::ParseLatency(const std::string& text, uint32_t& minMs, uint32_t& maxMs)
{
    unsigned long low = 0, high = 0;
    char tail = 0;
    int fields = std::sscanf(text.c_str(), "%lu-%lu%c", &low, &high, &tail);
    if (fields == 1 && text.find('-') == std::string::npos)
        high = low;
    else if (fields != 2)
        return false;
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || low > high || high > 600000)
        return false;
    minMs = static_cast<uint32_t>(low);
    maxMs = static_cast<uint32_t>(high);
    return true;
}

int CSimConfig::Parse(int argc, const char* const* argv, std::string& output)
{
    CLI::App app{
        "kivrouter-sim: a virtual router (router module and wireless module) on loopback or a "
        "given address, speaking discovery and control records (UDP), Telnet and the transfer "
        "and diagnostic channel (TCP)."};
    std::string familyText(1, family);
    std::string macText;
    std::vector<std::string> unlockTexts;
    std::vector<std::string> faultSpecs;
    std::string latencyText;
    app.add_option("--address", address, "address to bind every service to (default 127.0.0.1)");
    app.add_option("--router-port", routerPort,
                   "UDP and TCP port of the router (default " + std::to_string(ROUTER_PORT) + "; 0 = any free)");
    app.add_option("--telnet-port", telnetPort,
                   "Telnet port (default " + std::to_string(TELNET_PORT) + "; 0 = any free)");
    app.add_option("--family", familyText, "router family A (nvram, prompt '#') or B (diag, prompt 'QRX')")
        ->check(CLI::IsMember({"A", "B", "a", "b"}));
    app.add_option("--boot-version", bootVersion, "router boot loader version (default 1.0.5.0)");
    auto* appOption =
        app.add_option("--app-version", appVersion, "router application version (default 2.1.5.0, family B 3.2.1.0)");
    app.add_option("--firmware-version", firmwareVersion, "wireless module firmware version (default 11.608.10.01.00)");
    app.add_option("--dashboard-version", dashboardVersion,
                   "wireless module dashboard version (default 16.200.10.01.00)");
    app.add_option("--discovery-text", discoveryText, "text of the discovery reply (default: the app version)");
    app.add_option("--mac", macText, "router MAC address, AA-BB-CC-DD-EE-FF (default 02-4B-49-56-00-01)");
    std::string defaultCodes;
    for (const std::string& code : DefaultUnlockCodes())
        defaultCodes += (defaultCodes.empty() ? "" : ",") + code;
    app.add_option("--unlock-code", unlockTexts,
                   "an unlock code the module accepts, up to 8 characters; repeatable (default: the sample "
                   "wireless images' codes " +
                       defaultCodes + ")");
    app.add_flag("--force-load", forceLoad, "the module starts held in its downloader (force-load mode)");
    app.add_flag("--offline", offline, "the module starts in offline mode");
    app.add_option("--fault", faultSpecs, "inject a fault, NAME[=VALUE]; repeatable (list below)");
    app.add_option("--transcript", transcriptPath, "write every message as one JSON object per line to FILE");
    app.add_option("--time-scale", timeScale, "multiply every delay of the simulator by S (also KIV_TIME_SCALE)")
        ->check(CLI::PositiveNumber);
    app.add_option("--seed", seed, "seed of every random draw, such as the answer latency (default 1)");
    app.add_option("--latency", latencyText,
                   "delay each answer on the router port (UDP records, TCP frames) by a time drawn from MIN-MAX ms "
                   "(or exactly MS); answers keep their order (default 0)");
    app.add_option("--flash-time", flashTimeMs, "ms from the end of router image data to the result (default 3000)");
    app.add_option("--restart-time", restartTimeMs, "ms the module stays silent while it restarts (default 5000)");
    app.add_option("--region-base", regionBase, "start of the unlocked region of module memory (default 0)");
    app.add_option("--region-size", regionSize, "size of the unlocked region (default 0x10000000)");
    app.add_option("--max-connections", maxConnections, "connections per TCP service (default 8)")
        ->check(CLI::Range(1u, 256u));
    app.add_flag("--strict", strict, "exit with status 3 at the end when the peer broke the protocol");
    app.footer(CFaultTable::HelpText());

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out, err;
        const int code = app.exit(e, out, err);
        output = out.str() + err.str();
        return code == 0 ? 0 : 2;
    }
    family = static_cast<char>(std::toupper(static_cast<unsigned char>(familyText[0])));
    std::array<uint8_t, 4> probe{};
    if (!ParseIpv4(address, probe)) {
        output = "--address: not a dotted IPv4 address: " + address + "\n";
        return 2;
    }
    if (!latencyText.empty() && !ParseLatency(latencyText, latencyMinMs, latencyMaxMs)) {
        output = "--latency: expected MIN-MAX or MS, in ms (at most 600000), MIN not above MAX\n";
        return 2;
    }
    if (!macText.empty() && !ParseMac(macText, mac)) {
        output = "--mac: expected AA-BB-CC-DD-EE-FF\n";
        return 2;
    }
    if (family == 'B' && appOption->count() == 0)
        appVersion = "3.2.1.0";
    if (!unlockTexts.empty()) {
        unlockCodes.clear();
        for (const std::string& text : unlockTexts) {
            std::array<uint8_t, 8> code{};
            if (!ParseUnlockCode(text, code)) {
                output = "--unlock-code: at most 8 characters\n";
                return 2;
            }
            unlockCodes.push_back(code);
        }
    }
    for (const std::string& spec : faultSpecs) {
        std::string error;
        if (!faults.Add(spec, error)) {
            output = "--fault: " + error + "\n";
            return 2;
        }
    }
    return -1;
}
