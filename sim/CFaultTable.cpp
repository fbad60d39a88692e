#include "sim/CFaultTable.h"

#include <algorithm>
#include <cstdlib>

#include "wire/DiagRequestName.h"
#include "wire/RouterAddress.h"

namespace {

bool ParseNumber(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool KnownRequests(const std::string& list)
{
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, comma - start);
        bool known = false;
        for (const std::string& candidate : DiagRequestName::ModuleRequests())
            known = known || name == candidate;
        if (!known)
            return false;
        start = comma + 1;
    }
    return true;
}

bool IsDottedAddress(const std::string& text)
{
    std::array<uint8_t, 4> address{};
    return ParseIpv4(text, address);
}

constexpr std::array<CFaultTable::Info, FAULT_COUNT> FAULTS = {
    {{Fault::NoDiscovery, "no-discovery", "", "never answer a discovery record"},
     {Fault::DiscoveryZeroMac, "discovery-zero-mac", "",
      "answer a discovery first with a type-1 record whose MAC is all zero"},
     {Fault::DiscoveryOtherType, "discovery-other-type", "2",
      "answer a discovery first with a record of type VALUE (default 2)"},
     {Fault::DiscoveryNames, "discovery-names", "127.0.0.9",
      "answer a discovery with a record that names address VALUE instead of the router's own"},
     {Fault::DiscoverySize, "discovery-size", "1",
      "answer a discovery with its record cut (or zero-padded) to VALUE bytes (1..64)"},
     {Fault::DiscoveryFlood, "discovery-flood", "100",
      "after a discovery, send its sender a record of type 2 every VALUE ms until the simulator stops"},
     {Fault::TelnetRefused, "telnet-refused", "", "do not listen on the Telnet port: connections are refused"},
     {Fault::TelnetSilent, "telnet-silent", "", "accept Telnet connections but never send a byte"},
     {Fault::TelnetWrongPrompt, "telnet-wrong-prompt", "shell",
      "wrong prompt: VALUE 'shell' (default: shell prompt without '#'/'QRX') or 'login' (no ':')"},
     {Fault::TelnetHang, "telnet-hang", "", "echo a Telnet command but never complete it (no output, no prompt)"},
     {Fault::TelnetNoConnect, "telnet-no-connect", "",
      "drop every connection request to the Telnet port unanswered: a connect waits, as behind a firewall"},
     {Fault::RouterNoConnect, "router-no-connect", "",
      "drop every connection request to the TCP router port unanswered (UDP still answers)"},
     {Fault::NakBlock, "nak-block", "1",
      "refuse block write request number VALUE (from 1, retries count) with 03 + reason"},
     {Fault::DropBlockAck, "drop-block-ack", "1",
      "leave block write request number VALUE (from 1, retries count) unanswered"},
     {Fault::BareBlockAck, "bare-block-ack", "",
      "acknowledge every block write with a bare 02 instead of 02 and the block's address"},
     {Fault::LateAck, "late-ack", "1",
      "hold back the answer to block write request number VALUE (from 1, retries count) until the tool has "
      "given up waiting and sends a request other than that block again; send it then, as a bare 02, "
      "500 ms ahead of that request's own answer"},
     {Fault::CorruptFcs, "corrupt-fcs", "1", "corrupt the FCS of frame number VALUE (from 1) sent on the TCP channel"},
     {Fault::DropFrame, "drop-frame", "1", "lose frame number VALUE (from 1) sent on the TCP channel: it never leaves"},
     {Fault::ResetDuringBlock, "reset-during-block", "1",
      "reset the TCP connection while block write frame number VALUE (from 1, retries count) arrives"},
     {Fault::ResetDuringData, "reset-during-data", "7300",
      "reset the TCP connection after VALUE bytes of router image data"},
     {Fault::ResultValue, "result-value", "5", "send the router result packet with value VALUE instead of 4"},
     {Fault::NoResult, "no-result", "", "never send the router result packet"},
     {Fault::NoHandshake, "no-handshake", "",
      "the module ignores hand-shakes until force-load mode has been entered once"},
     {Fault::UnlockRefused, "unlock-refused", "5",
      "refuse the first VALUE unlock requests (default 5: one whole unlock command)"},
     {Fault::SlowRestart, "slow-restart", "30000",
      "every restart of the module keeps it silent for VALUE ms (default 30000)"},
     {Fault::ModuleNotBack, "module-not-back", "",
      "after a reset the module never comes back (probes and DIAG unanswered)"},
     {Fault::StillInDownloader, "still-in-downloader", "", "after a reset the module comes back in its downloader"},
     {Fault::NvRestoreFail, "nv-restore-fail", "",
      "the NV restore status query and the NV restore command report failure"},
     {Fault::NoEraseEcho, "no-erase-echo", "", "never echo an erase-NVRAM record"},
     {Fault::NoForceLoadEcho, "no-force-load-echo", "", "act on an enter-force-load record but never echo it"},
     {Fault::NoAnswer, "no-answer", "reset",
      "the module ignores these requests (comma-separated):"}}}; // HelpText names them

// The table is indexed by the enumeration, so its order must follow it.
constexpr bool InEnumerationOrder()
{
    for (size_t i = 0; i < FAULTS.size(); ++i) {
        if (static_cast<size_t>(FAULTS[i].fault) != i)
            return false;
    }
    return true;
}
static_assert(InEnumerationOrder(), "FAULTS must list the faults in the order of enum Fault");

} // namespace

const std::array<CFaultTable::Info, FAULT_COUNT>& CFaultTable::Known() { return FAULTS; }

const CFaultTable::Info& CFaultTable::Describe(Fault fault) { return FAULTS[static_cast<size_t>(fault)]; }

uint64_t CFaultTable::DelayMs(Fault fault, const std::string& value)
{
    // The waits of the protocol as the router sees them: an unanswered block write is
    // waited for 5 s and may be owed for as long again; a DIAG request has five tries of
    // up to 6 s; a router result may be waited for 5 minutes; a ready probe for 60 s per
    // restart; a control record for up to 4 s, three times.
    constexpr uint64_t SECOND = 1000;
    switch (fault) {
    case Fault::BareBlockAck:
    case Fault::ResultValue: return 0; // answered at once
    case Fault::NakBlock:
    case Fault::StillInDownloader: return 5 * SECOND;
    case Fault::NvRestoreFail:
    case Fault::TelnetRefused:
    case Fault::TelnetSilent:
    case Fault::TelnetWrongPrompt:
    case Fault::TelnetHang:
    case Fault::TelnetNoConnect: return 10 * SECOND;
    case Fault::DropBlockAck:
    case Fault::LateAck:
    case Fault::NoForceLoadEcho: return 15 * SECOND;
    case Fault::NoDiscovery:
    case Fault::DiscoveryZeroMac:
    case Fault::DiscoveryOtherType:
    case Fault::DiscoveryNames:
    case Fault::DiscoverySize:
    case Fault::DiscoveryFlood:
    case Fault::RouterNoConnect:
    case Fault::NoEraseEcho: return 20 * SECOND;
    case Fault::UnlockRefused: return 25 * SECOND;
    case Fault::ResetDuringBlock:
    case Fault::NoHandshake: return 45 * SECOND;
    case Fault::ModuleNotBack: return 90 * SECOND;
    case Fault::SlowRestart: {
        // Each restart (two per wireless image, two images at most) lasts VALUE.
        uint32_t restart = 0;
        return 10 * SECOND + 4 * uint64_t(ParseNumber(value, restart) ? restart : 0);
    }
    case Fault::CorruptFcs:
    case Fault::DropFrame:
    case Fault::ResetDuringData:
    case Fault::NoResult: return 330 * SECOND; // the lost frame may be the router's result
    case Fault::NoAnswer: return 400 * SECOND; // hand-shakes: five of five tries, per image
    }
    return 400 * SECOND;
}

namespace {

// Checks a value beyond its being a number; empty when the value is fine.
std::string CheckValue(Fault fault, const std::string& value, uint32_t number)
{
    switch (fault) {
    case Fault::TelnetWrongPrompt:
        return value == "shell" || value == "login" ? "" : "fault 'telnet-wrong-prompt' takes 'shell' or 'login'";
    case Fault::DiscoverySize: return number >= 1 && number <= 64 ? "" : "fault 'discovery-size' takes 1 to 64 bytes";
    case Fault::DiscoveryFlood: return number != 0 ? "" : "fault 'discovery-flood' needs an interval of at least 1 ms";
    case Fault::DiscoveryNames:
        return IsDottedAddress(value) ? "" : "fault 'discovery-names' takes a dotted IPv4 address, not '" + value + "'";
    case Fault::NoAnswer:
        return KnownRequests(value) ? "" : "fault 'no-answer': unknown request name in '" + value + "'";
    default: return "";
    }
}

} // namespace

bool CFaultTable::Add(const std::string& spec, std::string& error)
{
    const size_t eq = spec.find('=');
    const std::string name = spec.substr(0, eq);
    for (const Info& info : FAULTS) {
        if (name != info.name)
            continue;
        std::string value = eq == std::string::npos ? info.defaultValue : spec.substr(eq + 1);
        const bool takesValue = info.defaultValue[0] != '\0';
        if (!takesValue && eq != std::string::npos) {
            error = "fault '" + name + "' takes no value";
            return false;
        }
        uint32_t number = 0;
        const bool numeric = ParseNumber(info.defaultValue, number);
        if (takesValue && numeric && !ParseNumber(value, number)) {
            error = "fault '" + name + "' needs a number, not '" + value + "'";
            return false;
        }
        error = CheckValue(info.fault, value, number);
        if (!error.empty())
            return false;
        m_Active[static_cast<size_t>(info.fault)] = Setting{value, numeric ? number : 0};
        return true;
    }
    error = "unknown fault '" + name + "' (see --help)";
    return false;
}

bool CFaultTable::Has(Fault fault) const { return m_Active[static_cast<size_t>(fault)].has_value(); }

std::string CFaultTable::Text(Fault fault) const
{
    const auto& setting = m_Active[static_cast<size_t>(fault)];
    return setting ? setting->text : std::string();
}

bool CFaultTable::ListHas(Fault fault, const std::string& item) const
{
    const std::string list = "," + Text(fault) + ",";
    return Has(fault) && list.find("," + item + ",") != std::string::npos;
}

uint32_t CFaultTable::Number(Fault fault) const
{
    const auto& setting = m_Active[static_cast<size_t>(fault)];
    return setting ? setting->number : 0;
}

bool CFaultTable::HitsNumber(Fault fault, uint32_t count) const { return Has(fault) && Number(fault) == count; }

std::string CFaultTable::HelpText()
{
    std::string text = "Faults (--fault NAME[=VALUE], repeatable):\n";
    for (const Info& info : FAULTS) {
        std::string head = std::string("  ") + info.name + (info.defaultValue[0] ? "[=VALUE]" : "");
        if (head.size() < 30)
            head.resize(30, ' ');
        else
            head += ' ';
        text += head + info.help;
        if (info.fault == Fault::NoAnswer) {
            const std::vector<std::string>& names = DiagRequestName::ModuleRequests();
            for (size_t i = 0; i < names.size(); ++i)
                text += (i == 0 ? " " : ", ") + names[i];
        }
        text += "\n";
    }
    return text;
}
