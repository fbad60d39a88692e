#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tests/soak/SoakPlan.h"

namespace kivtest {

// How long a soak run may take, without copying any wait of the engine:
//  - the hang cap: past it a run counts as hung and is no longer waited for; one generous
//    limit, longer than the longest time-outs any fault can lead to;
//  - the slowdown bound: a run may take at most SLOWDOWN times the fault-free time of its
//    images (a reference run measured once per program for each image set: the same
//    images, the same mode, no fault, no latency), plus the delay each drawn fault declares
//    (CFaultTable::DelayMs) and the latency of every answer, at the run's time scale, plus
//    room for a loaded machine. A fault that makes every later step slower shows here.
class SoakBound {
public:
    static constexpr double SLOWDOWN = 3.0;

    // A fault-free run of an image set: how long it took and how many answers the router
    // sent (each of which a run with latency may wait for).
    struct Reference {
        std::chrono::milliseconds elapsed{0};
        uint32_t answers = 0;
        std::string failure; // why the fault-free run did not succeed; empty when it did
    };

    // The real time past which a run at `scale` counts as hung.
    static std::chrono::milliseconds HangCap(double scale);

    // The reference of the plan's image set in the plan's mode: measured by `measure` the
    // first time this program asks for that set, remembered afterwards.
    static Reference ReferenceFor(const SoakPlan& plan, const std::function<Reference()>& measure);
    // Measures the reference of the plan's image set in this process: the engine against the
    // simulator, without fault or latency. A reference that failed says why (and the run
    // is then judged against the hang cap alone).
    static Reference MeasureInProcess(const SoakPlan& plan);
    // The answers a transcript (JSON lines) records the router sending on UDP and TCP.
    static uint32_t CountAnswers(const std::string& transcript);

    SoakBound(const SoakPlan& plan, const Reference& reference, double scale);

    // The longest the run may take before it counts as too slow.
    std::chrono::milliseconds Limit() const { return m_Limit; }
    // How the limit was made up, for the report of a slow run.
    const std::string& Breakdown() const { return m_strBreakdown; }

private:
    std::chrono::milliseconds m_Limit{0};
    std::string m_strBreakdown;
};

} // namespace kivtest
