#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/soak/SoakPlan.h"

namespace kivtest {

// The longest a soak run may take before it counts as hung: the waits the upgrade sequence
// mandates for the images selected, plus what each fault drawn can add to them (its
// time-outs and retries), plus the latency of every answer, all in scaled milliseconds;
// then turned into real time at the run's time scale with room for a loaded machine.
class SoakBound {
public:
    // What the bound needs to know besides the plan.
    struct Run {
        uint32_t wirelessBlocks = 0; // 4096-byte block writes of the selected wireless images
        bool appImage = false;       // an APP image is selected (its result wait is the longest)
        uint32_t restartMs = 5000;   // the simulator's module restart
        uint32_t flashMs = 3000;     // the simulator's router flashing
    };

    SoakBound(const SoakPlan& plan, const Run& run);

    // Scaled milliseconds of the mandated waits and of the faults' extra waits.
    uint64_t ScaledMs() const { return m_nScaledMs; }
    // Real time at `scale`: the scaled bound x scale x 1.25, plus 15 s, plus 3 s per
    // wireless image and 10 s for a run through the programs (start-up, data transfer,
    // thread scheduling on a loaded machine; none of it scales).
    std::chrono::milliseconds Real(double scale) const;
    // How the bound was made up, for the report of a hung run.
    const std::string& Breakdown() const { return m_strBreakdown; }

private:
    void Add(const std::string& what, uint64_t ms);
    uint64_t FaultExtra(Fault fault, const std::string& value) const;
    uint64_t WirelessImageMs(uint64_t restartMs) const;

    const SoakPlan& m_Plan;
    Run m_Run;
    int m_nWirelessImages = 0;
    int m_nRouterImages = 0;
    uint64_t m_nScaledMs = 0;
    std::string m_strBreakdown;
};

} // namespace kivtest
