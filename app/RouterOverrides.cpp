#include "app/RouterOverrides.h"

#include <cstdlib>
#include <string>

#include "net/CNetInterfaces.h"
#include "net/InterfaceBinding.h"
#include "platform/SystemError.h"

namespace {

#ifdef _WIN32
constexpr const char* BRING_UP_HINT = "connect it, or enable the adapter ";
constexpr const char* BRING_UP_HINT_END = " in the network settings, first";
#else
constexpr const char* BRING_UP_HINT = "bring it up first, e.g. ip link set ";
constexpr const char* BRING_UP_HINT_END = " up";
#endif

// An interface name as the user gave it, cut short enough to quote in a message.
std::string QuotedName(const std::string& name)
{
    constexpr size_t SHOWN = 40;
    return "\"" + (name.size() > SHOWN ? name.substr(0, SHOWN) + "..." : name) + "\"";
}

} // namespace

RouterOverrides::RouterOverrides() : targets{{192, 168, 1, 255}, {255, 255, 255, 255}} {}

bool ParseTargetList(const std::string& text, std::vector<std::array<uint8_t, 4>>& targets)
{
    std::vector<std::array<uint8_t, 4>> parsed;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        std::array<uint8_t, 4> address{};
        if (!ParseIpv4(text.substr(start, comma - start), address))
            return false;
        parsed.push_back(address);
        start = comma + 1;
    }
    if (parsed.empty())
        return false;
    targets = std::move(parsed);
    return true;
}

RouterOverrides LoadRouterOverrides(std::string* error)
{
    RouterOverrides overrides;
    std::string problems;
    if (const char* v = std::getenv("KIV_DISCOVERY_TARGETS"); v && *v) {
        if (ParseTargetList(v, overrides.targets))
            overrides.bTargetsGiven = true;
        else
            problems += "KIV_DISCOVERY_TARGETS is not a list of dotted addresses; ignored. ";
    }
    std::string portProblem;
    overrides.routerPort = RouterPortSetting(&portProblem);
    if (!portProblem.empty())
        problems += portProblem + " ";
    if (const char* v = std::getenv("KIV_TELNET_PORT"); v && *v) {
        if (!ParsePort(v, overrides.telnetPort))
            problems += "KIV_TELNET_PORT is not a port number; ignored. ";
    }
    if (const char* v = std::getenv("KIV_TIME_SCALE_ANY_ROUTER"); v && *v) {
        const std::string text = v;
        if (text == "1" || text == "0")
            overrides.timeScaleAnyRouter = text == "1";
        else
            problems += "KIV_TIME_SCALE_ANY_ROUTER is not 1 or 0; ignored. ";
    }
    if (const char* v = std::getenv("KIV_INTERFACE"); v && *v)
        overrides.interfaceName = v;
    if (!problems.empty())
        problems.pop_back();
    if (error)
        *error = problems;
    return overrides;
}

bool ResolveInterface(RouterOverrides& overrides, const CNetInterfaces& interfaces, std::string* error)
{
    const std::string& name = overrides.interfaceName;
    if (name.empty())
        return true;
    std::string problem;
    const NetInterface* entry = nullptr;
    if (name.size() > CNetInterfaces::MAX_NAME_LENGTH || !interfaces.Exists(name))
        problem = "there is no network interface named " + QuotedName(name) + ".";
    else if ((entry = interfaces.Find(name)) == nullptr)
        problem = "the network interface " + name + " has no IPv4 address.";
    else if (!entry->up)
        problem = "the network interface " + name + " is down (" + BRING_UP_HINT + name + BRING_UP_HINT_END + ").";
    if (!problem.empty()) {
        if (error != nullptr)
            *error = problem + " Interfaces here: " + interfaces.DescribeAll() + ".";
        return false;
    }
    if (!overrides.bTargetsGiven) {
        overrides.targets.clear();
        if (entry->hasBroadcast && entry->broadcast != std::array<uint8_t, 4>{255, 255, 255, 255})
            overrides.targets.push_back(entry->broadcast);
        overrides.targets.push_back({255, 255, 255, 255});
    }
    return true;
}

bool UseInterface(RouterOverrides& overrides, std::string* error)
{
    if (overrides.interfaceName.empty())
        return true;
    int readError = 0;
    const CNetInterfaces interfaces = CNetInterfaces::ReadSystem(&readError);
    if (readError != 0) {
        if (error != nullptr)
            *error = "cannot read the network interfaces: " + SystemErrorText(static_cast<uint32_t>(readError)) + ".";
        return false;
    }
    if (!ResolveInterface(overrides, interfaces, error))
        return false;
    const int err = ProbeInterfaceTie(overrides.interfaceName);
    if (err != 0) {
        if (error != nullptr)
            *error = ExplainTieError(overrides.interfaceName, err);
        return false;
    }
    return true;
}
