#include "sim/CFaultTable.h"

#include <algorithm>
#include <cstdlib>

#include <arpa/inet.h>

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

const char* const kRequestNames[] = {"hand-shake", "board-version", "dashboard-version", "nv-backup", "nv-restore",
                                     "nv-restore-status", "change-mode", "switch-to-downloader", "unlock",
                                     "block-write", "reset", "nv-read", "nv-write"};

bool KnownRequests(const std::string& list)
{
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, comma - start);
        bool known = false;
        for (const char* candidate : kRequestNames)
            known = known || name == candidate;
        if (!known)
            return false;
        start = comma + 1;
    }
    return true;
}

bool IsDottedAddress(const std::string& text)
{
    in_addr addr{};
    return inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

} // namespace

const std::vector<CFaultTable::Info>& CFaultTable::Known()
{
    static const std::vector<Info> kFaults = {
        {"no-discovery", "", "never answer a discovery record"},
        {"discovery-zero-mac", "", "answer a discovery first with a type-1 record whose MAC is all zero"},
        {"discovery-other-type", "2", "answer a discovery first with a record of type VALUE (default 2)"},
        {"discovery-names", "127.0.0.9",
         "answer a discovery with a record that names address VALUE instead of the router's own"},
        {"discovery-size", "1", "answer a discovery with its record cut (or zero-padded) to VALUE bytes (1..64)"},
        {"discovery-flood", "100",
         "after a discovery, send its sender a record of type 2 every VALUE ms until the simulator stops"},
        {"telnet-refused", "", "do not listen on the Telnet port: connections are refused"},
        {"telnet-silent", "", "accept Telnet connections but never send a byte"},
        {"telnet-wrong-prompt", "shell",
         "wrong prompt: VALUE 'shell' (default: shell prompt without '#'/'QRX') or 'login' (no ':')"},
        {"telnet-hang", "", "echo a Telnet command but never complete it (no output, no prompt)"},
        {"nak-block", "1", "refuse block write request number VALUE (from 1, retries count) with 03 + reason"},
        {"drop-block-ack", "1", "leave block write request number VALUE (from 1, retries count) unanswered"},
        {"bare-block-ack", "", "acknowledge every block write with a bare 02 instead of 02 and the block's address"},
        {"late-ack", "1",
         "hold back the answer to block write request number VALUE (from 1, retries count) until the tool has "
         "given up waiting and sends a request other than that block again; send it then, as a bare 02, "
         "500 ms ahead of that request's own answer"},
        {"corrupt-fcs", "1", "corrupt the FCS of frame number VALUE (from 1) sent on the TCP channel"},
        {"drop-frame", "1", "lose frame number VALUE (from 1) sent on the TCP channel: it never leaves"},
        {"reset-during-block", "1",
         "reset the TCP connection while block write frame number VALUE (from 1, retries count) arrives"},
        {"reset-during-data", "7300", "reset the TCP connection after VALUE bytes of router image data"},
        {"result-value", "5", "send the router result packet with value VALUE instead of 4"},
        {"no-result", "", "never send the router result packet"},
        {"no-handshake", "", "the module ignores hand-shakes until force-load mode has been entered once"},
        {"unlock-refused", "5", "refuse the first VALUE unlock requests (default 5: one whole unlock command)"},
        {"slow-restart", "30000", "every restart of the module keeps it silent for VALUE ms (default 30000)"},
        {"module-not-back", "", "after a reset the module never comes back (probes and DIAG unanswered)"},
        {"still-in-downloader", "", "after a reset the module comes back in its downloader"},
        {"nv-restore-fail", "", "the NV restore status query and the NV restore command report failure"},
        {"no-erase-echo", "", "never echo an erase-NVRAM record"},
        {"no-force-load-echo", "", "act on an enter-force-load record but never echo it"},
        {"no-answer", "reset",
         "the module ignores these requests (comma-separated): hand-shake, board-version, dashboard-version, "
         "nv-backup, nv-restore, nv-restore-status, change-mode, switch-to-downloader, unlock, block-write, "
         "reset, nv-read, nv-write"},
    };
    return kFaults;
}

bool CFaultTable::Add(const std::string& spec, std::string& error)
{
    const size_t eq = spec.find('=');
    const std::string name = spec.substr(0, eq);
    for (const Info& info : Known()) {
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
        if (name == "telnet-wrong-prompt" && value != "shell" && value != "login") {
            error = "fault 'telnet-wrong-prompt' takes 'shell' or 'login'";
            return false;
        }
        if (name == "discovery-size" && (number < 1 || number > 64)) {
            error = "fault 'discovery-size' takes 1 to 64 bytes";
            return false;
        }
        if (name == "discovery-flood" && number == 0) {
            error = "fault 'discovery-flood' needs an interval of at least 1 ms";
            return false;
        }
        if (name == "discovery-names" && !IsDottedAddress(value)) {
            error = "fault 'discovery-names' takes a dotted IPv4 address, not '" + value + "'";
            return false;
        }
        if (name == "no-answer" && !KnownRequests(value)) {
            error = "fault 'no-answer': unknown request name in '" + value + "'";
            return false;
        }
        m_Active[name] = value;
        return true;
    }
    error = "unknown fault '" + name + "' (see --help)";
    return false;
}

bool CFaultTable::ListHas(const std::string& name, const std::string& item) const
{
    const std::string list = "," + Text(name) + ",";
    return Has(name) && list.find("," + item + ",") != std::string::npos;
}

bool CFaultTable::Has(const std::string& name) const
{
    return m_Active.count(name) != 0;
}

std::string CFaultTable::Text(const std::string& name) const
{
    auto it = m_Active.find(name);
    return it == m_Active.end() ? std::string() : it->second;
}

uint32_t CFaultTable::Number(const std::string& name, uint32_t fallback) const
{
    uint32_t value = 0;
    auto it = m_Active.find(name);
    if (it == m_Active.end() || !ParseNumber(it->second, value))
        return fallback;
    return value;
}

std::string CFaultTable::HelpText()
{
    std::string text = "Faults (--fault NAME[=VALUE], repeatable):\n";
    for (const Info& info : Known()) {
        std::string head = std::string("  ") + info.name + (info.defaultValue[0] ? "[=VALUE]" : "");
        if (head.size() < 30)
            head.resize(30, ' ');
        else
            head += ' ';
        text += head + info.help + "\n";
    }
    return text;
}
