#include "tests/soak/SoakTally.h"

#include <cstdio>

namespace kivtest {

SoakTally& SoakTally::Get()
{
    static SoakTally tally;
    return tally;
}

void SoakTally::Add(const SoakPlan& plan, const SoakCheck::Verdict& verdict, std::chrono::milliseconds elapsed,
                    std::chrono::milliseconds bound)
{
    std::lock_guard lock(m_Lock);
    ++m_nRuns;
    m_nFalseSuccesses += verdict.falseSuccess;
    m_nHangs += verdict.hang;
    m_nSlow += verdict.slow;
    m_nLeaks += verdict.leak;
    m_nViolations += verdict.violation;
    m_nFailuresSeen += verdict.failureSeen;
    m_nOther += verdict.broken;
    for (const DrawnFault& drawn : plan.faults)
        ++m_Faults[drawn.fault];
    const double ratio = bound.count() > 0 ? double(elapsed.count()) / double(bound.count()) : 0;
    if (ratio > m_fSlowest) {
        m_fSlowest = ratio;
        m_nSlowestSeed = plan.seed;
    }
}

std::string SoakTally::Summary() const
{
    std::lock_guard lock(m_Lock);
    char text[256];
    std::snprintf(text, sizeof text,
                  "soak: runs=%u false_successes=%u hangs=%u slow=%u leaks=%u violations=%u failures_seen=%u other=%u",
                  m_nRuns, m_nFalseSuccesses, m_nHangs, m_nSlow, m_nLeaks, m_nViolations, m_nFailuresSeen, m_nOther);
    return text;
}

std::string SoakTally::FaultsDrawn() const
{
    std::lock_guard lock(m_Lock);
    std::string text = "soak: faults drawn:";
    for (Fault fault : SoakPlan::DrawableFaults()) {
        auto it = m_Faults.find(fault);
        text += " " + std::string(CFaultTable::Describe(fault).name) + "=" +
                std::to_string(it == m_Faults.end() ? 0 : it->second);
    }
    return text;
}

std::string SoakTally::Slowest() const
{
    std::lock_guard lock(m_Lock);
    char text[128];
    std::snprintf(text, sizeof text, "soak: slowest run: seed=%llu took %.0f%% of its bound",
                  static_cast<unsigned long long>(m_nSlowestSeed), m_fSlowest * 100);
    return text;
}

} // namespace kivtest
