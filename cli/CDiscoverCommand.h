#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/RouterOverrides.h"
#include "diag/CUdpHdlc.h"
#include "net/CNetInterfaces.h"

// "kivupgrade-cli discover": sends the discovery record to each target as the check does
// (three tries each, 3000 ms each from its send, 100 ms pause after a try without answer),
// but keeps every router that answers a try until that try's wait ends, and does not stop
// at the first target that answered. Lists the routers and the interfaces it looked
// through; with no answer, the reason it may have and what to try.
class CDiscoverCommand {
public:
    // `overrides` are resolved already (UseInterface). `stop` is an event set on Ctrl-C.
    CDiscoverCommand(const RouterOverrides& overrides, const CWsaEvent* stop);

    // Runs the whole discovery (any thread; the main thread watches for signals meanwhile).
    void Run();
    // Call after Run: the table or the JSON document for standard output, and the exit code
    // (0 when at least one router answered, 1 otherwise).
    std::string FormatText() const;
    std::string FormatJson() const;
    int ExitCode() const { return m_Routers.empty() ? 1 : 0; }
    void SetInterrupted() { m_bInterrupted = true; }

private:
    // The interface a router's address lies on: the chosen one, else the first up
    // interface whose subnet holds it (empty when none does).
    std::string InterfaceOf(const DiscoveryReply& router) const;
    // The interfaces the discovery could leave through.
    std::vector<NetInterface> LookedThrough() const;

    RouterOverrides m_Overrides;
    const CWsaEvent* m_pStop;
    std::atomic<bool> m_bInterrupted{false};
    CNetInterfaces m_Interfaces;
    std::vector<DiscoveryReply> m_Routers;
    std::vector<std::string> m_Skipped;
    std::vector<std::string> m_Hint;
    uint32_t m_nElapsedMs = 0;
};
