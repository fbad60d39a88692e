#include "app/DiscoveryHint.h"

#include "net/CNetInterfaces.h"
#include "wire/RouterAddress.h"

namespace {

const std::array<uint8_t, 4> LIMITED_BROADCAST = {255, 255, 255, 255};

std::string Dotted(const std::array<uint8_t, 4>& a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

// "a", "a and b", "a, b and c".
std::string JoinNames(const std::vector<NetInterface>& entries)
{
    std::string text;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            text += i + 1 == entries.size() ? " and " : ", ";
        text += entries[i].name;
    }
    return text;
}

std::string DescribeList(const std::vector<NetInterface>& entries)
{
    std::string text;
    for (const NetInterface& e : entries)
        text += (text.empty() ? "" : ", ") + e.Describe();
    return text;
}

// The interfaces the discovery could leave through: the chosen one, else every one that is
// up (loopback only for loopback targets).
std::vector<NetInterface> Considered(const CNetInterfaces& interfaces, const std::string& interfaceName)
{
    std::vector<NetInterface> result;
    for (const NetInterface& e : interfaces.Entries()) {
        if (interfaceName.empty() ? e.up : e.name == interfaceName)
            result.push_back(e);
    }
    return result;
}

void SubnetLine(const std::array<uint8_t, 4>& target, const std::vector<NetInterface>& considered,
                const std::string& interfaceName, std::vector<std::string>& lines)
{
    const bool loopbackTarget = IsLoopbackIpv4(target);
    std::vector<NetInterface> on;
    for (const NetInterface& e : considered) {
        if (e.loopback == loopbackTarget && e.Contains(target))
            on.push_back(e);
    }
    // Without an interface on it, the subnet is taken as the /24 that home routers use.
    const std::string subnet = on.empty() ? Dotted({target[0], target[1], target[2], 0}) + "/24"
                                          : on.front().SubnetText();
    const std::string where = Dotted(target) + " (" + subnet + ")";
    if (on.empty()) {
        const std::string subject = interfaceName.empty() ? std::string("No interface that is up is")
                                                          : interfaceName + " is not";
        lines.push_back(subject + " on the subnet of " + where +
                        ". This PC needs an address there: connect it to a LAN port of the router, "
                        "whose DHCP server gives it one, or set one by hand.");
    } else if (on.size() == 1) {
        lines.push_back(on.front().name + " is on the subnet of " + where + ".");
    } else {
        lines.push_back(JoinNames(on) + (on.size() == 2 ? " are both" : " are all") + " on the subnet of " + where +
                        ": the system sends the discovery out of only one of them. Name the one the "
                        "router is connected to with --interface, e.g. --interface " +
                        on.back().name + ".");
    }
}

} // namespace

std::vector<std::string> BuildDiscoveryHint(const CNetInterfaces& interfaces,
                                            const std::vector<std::array<uint8_t, 4>>& targets,
                                            const std::string& interfaceName, uint16_t routerPort)
{
    std::vector<std::string> lines;
    const bool chosen = !interfaceName.empty();
    const std::vector<NetInterface> considered = Considered(interfaces, interfaceName);
    if (chosen) {
        if (considered.empty()) {
            lines.push_back("The discovery was tied to " + interfaceName + ", which has no IPv4 address now.");
        } else {
            lines.push_back("The discovery went out through " + considered.front().Describe() + " only.");
            if (!considered.front().running)
                lines.push_back(interfaceName + " has no link: is the cable plugged in and the router switched on?");
        }
    } else {
        const std::vector<NetInterface> up = interfaces.UpNonLoopback();
        if (up.empty())
            lines.push_back("No network interface apart from loopback is up.");
        else
            lines.push_back("Interfaces that are up: " + DescribeList(up) + ".");
    }
    for (const auto& target : targets) {
        if (target != LIMITED_BROADCAST)
            SubnetLine(target, considered, interfaceName, lines);
    }
    lines.push_back(
        "Check that the router is switched on and that this PC is connected to one of its LAN ports "
        "(not the WAN port).");
    if (!chosen)
        lines.push_back(
            "If the router is on another network port of this PC, name that port with --interface NAME "
            "(the window reads KIV_INTERFACE=NAME too).");
    lines.push_back("If the router has another address, give it with --target ADDRESS.");
    lines.push_back("A firewall on this PC must let UDP replies from the router's port " + std::to_string(routerPort) +
                    " in.");
    return lines;
}

std::string JoinHint(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}
