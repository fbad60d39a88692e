#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "tests/soak/SoakCheck.h"
#include "tests/soak/SoakPlan.h"

namespace kivtest {

// The counts of one soak program: runs, what each invariant caught, the faults drawn per
// kind, and the longest run measured against its bound. Printed once at the end as
//   soak: faults drawn: NAME=N ...
//   soak: runs=N false_successes=N hangs=N slow=N leaks=N violations=N failures_seen=N other=N
class SoakTally {
public:
    static SoakTally& Get();

    void Add(const SoakPlan& plan, const SoakCheck::Verdict& verdict, std::chrono::milliseconds elapsed,
             std::chrono::milliseconds bound);
    std::string Summary() const;
    std::string FaultsDrawn() const;
    std::string Slowest() const;

private:
    mutable std::mutex m_Lock;
    uint32_t m_nRuns = 0;
    uint32_t m_nFalseSuccesses = 0;
    uint32_t m_nHangs = 0;
    uint32_t m_nSlow = 0;
    uint32_t m_nLeaks = 0;
    uint32_t m_nViolations = 0;
    uint32_t m_nFailuresSeen = 0;
    uint32_t m_nOther = 0;
    std::map<Fault, uint32_t> m_Faults;
    double m_fSlowest = 0; // elapsed / slowdown bound of the slowest run
    uint64_t m_nSlowestSeed = 0;
};

} // namespace kivtest
