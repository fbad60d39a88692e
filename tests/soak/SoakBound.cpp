#include "tests/soak/SoakBound.h"

#include <algorithm>

#include "engine/ComponentEntry.h"

namespace kivtest {

namespace {

// The waits of the upgrade sequence, in scaled ms, as the engine is built to keep them.
constexpr uint64_t BEGIN_PACKET_PAUSE = 2500; // after the begin packet of a transfer
constexpr uint64_t STEP_PAUSE = 1000;         // between components, after the erase
constexpr uint64_t RESULT_READ = 8000;        // one read of the router's result
constexpr uint64_t RESULT_LIMIT = 120000;     // the router's result, most images
constexpr uint64_t APP_RESULT_LIMIT = 300000; // the router's result, APP images
constexpr uint64_t ERASE_WAIT = 4000;         // erase echo; three tries, 1000 ms apart
constexpr uint64_t PROBE_PAUSE = 2000;        // before every ready probe
constexpr uint64_t PROBE_WAIT = 2000;         // ready probe and force-load echo
constexpr uint64_t READY_LIMIT = 60000;       // each ready wait while the module restarts
constexpr uint64_t SETTLE = 6000;             // between the two ready waits
constexpr uint64_t FORCE_LOAD_PAUSE = 2000;   // after entering force-load mode
constexpr uint64_t OFFLINE_PAUSE = 100;
constexpr uint64_t BLOCK_ACK_WAIT = 5000; // one block acknowledgement
// A DIAG command that never gets a usable answer: five tries of a 3000 ms read (6000 ms
// for the hand-shake) and a 200 ms pause.
constexpr uint64_t COMMAND_FAILS = 5 * (3000 + 200);
constexpr uint64_t HAND_SHAKE_FAILS = 5 * (6000 + 200);
// A ready wait that ends at its limit: the probe running when the limit passes finishes.
constexpr uint64_t READY_FAILS = READY_LIMIT + PROBE_PAUSE + PROBE_WAIT;
// The version check of a run through the programs: discovery, Telnet, three DIAG queries.
constexpr uint64_t CHECK_WAIT = 30000;

} // namespace

SoakBound::SoakBound(const SoakPlan& plan, const Run& run) : m_Plan(plan), m_Run(run)
{
    for (int c : plan.components)
        (c >= COMPONENT_FIRMWARE ? m_nWirelessImages : m_nRouterImages) += 1;

    // Mandated waits of a run that meets no fault.
    if (plan.mode == SoakMode::Process)
        Add("check", CHECK_WAIT);
    Add("router images", m_nRouterImages * (BEGIN_PACKET_PAUSE + run.flashMs + STEP_PAUSE));
    bool erase = false;
    for (int c : plan.components)
        erase = erase || (c != COMPONENT_BOOT && c < COMPONENT_FIRMWARE);
    if (erase)
        Add("erase", STEP_PAUSE);
    uint64_t restart = run.restartMs;
    if (auto slow = plan.ValueOf(Fault::SlowRestart))
        restart = std::min<uint64_t>(std::stoull(*slow), READY_LIMIT);
    Add("wireless images", m_nWirelessImages * WirelessImageMs(restart));
    if (m_nWirelessImages != 0)
        Add("leave force-load", PROBE_WAIT);

    for (const DrawnFault& drawn : plan.faults)
        Add(drawn.Spec(), FaultExtra(drawn.fault, drawn.value));

    // Every answer may wait for the latest latency: block acknowledgements, DIAG answers,
    // ready probes (a few dozen per wireless image), result packets and control echoes.
    const uint64_t answers = run.wirelessBlocks + 100u * m_nWirelessImages + 8u * m_nRouterImages + 20u;
    Add("latency", answers * plan.latencyMaxMs);
}

uint64_t SoakBound::WirelessImageMs(uint64_t restartMs) const
{
    // A restart is seen by the probes within one probe cycle after it ends.
    const uint64_t waiting = restartMs + PROBE_PAUSE + PROBE_WAIT + SETTLE + PROBE_PAUSE;
    return PROBE_PAUSE                                        // the ready wait before the hand-shake
           + OFFLINE_PAUSE + BEGIN_PACKET_PAUSE + 2 * waiting // into the downloader, and back after the reset
           + STEP_PAUSE;
}

uint64_t SoakBound::FaultExtra(Fault fault, const std::string& value) const
{
    const uint64_t resultWait = m_nRouterImages == 0 ? 0
                                                     : (m_Run.appImage ? APP_RESULT_LIMIT : RESULT_LIMIT) + RESULT_READ;
    const uint64_t images = static_cast<uint64_t>(std::max(m_nWirelessImages, 1));
    const uint64_t forceLoad = PROBE_WAIT + FORCE_LOAD_PAUSE + PROBE_PAUSE + PROBE_WAIT;
    if (fault == Fault::DropBlockAck)
        return BLOCK_ACK_WAIT;
    if (fault == Fault::BareBlockAck) {
        // After an answer that never comes, a bare 02 may always be that answer: every later
        // block may wait once more before its retry is taken.
        for (Fault lost : {Fault::DropBlockAck, Fault::LateAck, Fault::DropFrame, Fault::CorruptFcs,
                           Fault::ResetDuringBlock, Fault::NoAnswer})
            if (m_Plan.ValueOf(lost))
                return uint64_t(m_Run.wirelessBlocks) * BLOCK_ACK_WAIT;
        return 0;
    }
    if (fault == Fault::LateAck)
        return 2 * BLOCK_ACK_WAIT; // its own wait, and one more where the late answer lands
    if (fault == Fault::ResetDuringBlock)
        return 5 * (3000 + BLOCK_ACK_WAIT); // five tries of the block on the broken channel
    if (fault == Fault::CorruptFcs || fault == Fault::DropFrame)
        return std::max(resultWait, HAND_SHAKE_FAILS + COMMAND_FAILS); // the one answer lost
    if (fault == Fault::ResetDuringData || fault == Fault::NoResult)
        return resultWait;
    if (fault == Fault::NoEraseEcho)
        return 3 * (ERASE_WAIT + STEP_PAUSE);
    if (fault == Fault::NoHandshake)
        return HAND_SHAKE_FAILS + forceLoad;
    if (fault == Fault::UnlockRefused)
        return images * (2 * 5 * 200 + forceLoad);
    if (fault == Fault::NoForceLoadEcho)
        return images * 2 * PROBE_WAIT;
    if (fault == Fault::ModuleNotBack)
        return READY_FAILS;
    if (fault == Fault::SlowRestart)
        return std::stoull(value) > READY_LIMIT ? READY_FAILS : 0; // the rest is in the restarts
    if (fault == Fault::NoAnswer) {
        if (value == "hand-shake") // two before the download, three after the restart
            return images * (5 * HAND_SHAKE_FAILS + 2 * forceLoad + COMMAND_FAILS);
        if (value == "nv-restore-status" || value == "nv-restore")
            return 6 * COMMAND_FAILS; // two passes of two queries and a restore
        if (value == "block-write")
            return 5 * BLOCK_ACK_WAIT;
        return images * (2 * COMMAND_FAILS + forceLoad);
    }
    return 0; // nak-block, result-value, still-in-downloader, nv-restore-fail: answered at once
}

void SoakBound::Add(const std::string& what, uint64_t ms)
{
    if (ms == 0)
        return;
    m_nScaledMs += ms;
    m_strBreakdown += (m_strBreakdown.empty() ? "" : " + ") + what + " " + std::to_string(ms);
}

std::chrono::milliseconds SoakBound::Real(double scale) const
{
    const double scaled = static_cast<double>(m_nScaledMs) * scale * 1.25;
    const int64_t slack = 15000 + 3000 * m_nWirelessImages + (m_Plan.mode == SoakMode::Process ? 10000 : 0);
    return std::chrono::milliseconds(static_cast<int64_t>(scaled) + slack);
}

} // namespace kivtest
