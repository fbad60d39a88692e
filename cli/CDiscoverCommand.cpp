#include "cli/CDiscoverCommand.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/CRouterFinder.h"
#include "app/DiscoveryHint.h"
#include "platform/Clock.h"
#include "res/Resources.h"
#include "wire/RouterAddress.h"

namespace {

constexpr uint32_t IDS_NO_ROUTER = 137;

// Whether any target is on loopback (`loopback` true) or off it (false).
bool HasTarget(const RouterOverrides& overrides, bool loopback)
{
    for (const auto& t : overrides.targets) {
        if (IsLoopbackIpv4(t) == loopback)
            return true;
    }
    return false;
}

} // namespace

CDiscoverCommand::CDiscoverCommand(const RouterOverrides& overrides, const CWsaEvent* stop)
    : m_Overrides(overrides), m_pStop(stop)
{
}

void CDiscoverCommand::Run()
{
    m_Interfaces = CNetInterfaces::ReadSystem();
    const uint32_t start = GetTickCount();
    CRouterFinder finder(m_Overrides, m_pStop, [this] { return m_bInterrupted.load(); });
    finder.SetSkipSink([this](const std::string& note) {
        std::fprintf(stderr, "%s\n", note.c_str());
        m_Skipped.push_back(note);
    });
    m_Routers = finder.FindAll();
    m_nElapsedMs = TicksSince(start);
    if (m_Routers.empty())
        m_Hint =
            BuildDiscoveryHint(m_Interfaces, m_Overrides.targets, m_Overrides.interfaceName, m_Overrides.routerPort);
}

std::string CDiscoverCommand::InterfaceOf(const DiscoveryReply& router) const
{
    if (!m_Overrides.interfaceName.empty())
        return m_Overrides.interfaceName;
    for (const NetInterface& e : m_Interfaces.OnSubnetOf(router.ip))
        return e.name;
    return std::string();
}

std::vector<NetInterface> CDiscoverCommand::LookedThrough() const
{
    std::vector<NetInterface> result;
    const bool loopback = HasTarget(m_Overrides, true);
    const bool other = HasTarget(m_Overrides, false);
    for (const NetInterface& e : m_Interfaces.Entries()) {
        const bool wanted = m_Overrides.interfaceName.empty() ? e.up && (e.loopback ? loopback : other)
                                                              : e.name == m_Overrides.interfaceName;
        if (wanted)
            result.push_back(e);
    }
    return result;
}

std::string CDiscoverCommand::FormatText() const
{
    std::string out;
    std::string through;
    for (const NetInterface& e : LookedThrough())
        through += (through.empty() ? "" : ", ") + e.Describe();
    out += "Looked through: " + (through.empty() ? std::string("no interface") : through) + "\n";
    if (m_Routers.empty()) {
        out += m_bInterrupted ? std::string("Interrupted.\n") : LoadStringResource(IDS_NO_ROUTER) + "\n";
        for (const std::string& line : m_Hint)
            out += "  " + line + "\n";
        return out;
    }
    for (const DiscoveryReply& r : m_Routers) {
        const std::string iface = InterfaceOf(r);
        out += "Router " + FormatIpv4(r.ip) + "  MAC " + FormatMac(r.mac) + "  \"" + r.text + "\"" +
               (iface.empty() ? std::string() : "  on " + iface) + "\n";
    }
    out += std::to_string(m_Routers.size()) + (m_Routers.size() == 1 ? " router" : " routers") + " found.\n";
    return out;
}

std::string CDiscoverCommand::FormatJson() const
{
    nlohmann::json routers = nlohmann::json::array();
    for (const DiscoveryReply& r : m_Routers) {
        const std::string iface = InterfaceOf(r);
        routers.push_back({{"ip", FormatIpv4(r.ip)},
                           {"mac", FormatMac(r.mac)},
                           {"text", r.text},
                           {"interface", iface.empty() ? nlohmann::json(nullptr) : nlohmann::json(iface)}});
    }
    nlohmann::json interfaces = nlohmann::json::array();
    for (const NetInterface& e : LookedThrough()) {
        interfaces.push_back(
            {{"name", e.name},
             {"address", FormatIpv4(e.address)},
             {"prefix", e.prefixLength},
             {"broadcast", e.hasBroadcast ? nlohmann::json(FormatIpv4(e.broadcast)) : nlohmann::json(nullptr)},
             {"up", e.up},
             {"running", e.running},
             {"loopback", e.loopback}});
    }
    nlohmann::json targets = nlohmann::json::array();
    for (const auto& t : m_Overrides.targets)
        targets.push_back(FormatIpv4(t));
    nlohmann::json doc = {
        {"command", "discover"},
        {"result", ExitCode() == 0 ? "success" : "failure"},
        {"exitCode", ExitCode()},
        {"interrupted", m_bInterrupted.load()},
        {"interface",
         m_Overrides.interfaceName.empty() ? nlohmann::json(nullptr) : nlohmann::json(m_Overrides.interfaceName)},
        {"targets", targets},
        {"routers", routers},
        {"interfaces", interfaces},
        {"skipped", m_Skipped},
        {"hint", m_Hint},
        {"elapsedMs", m_nElapsedMs},
    };
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
