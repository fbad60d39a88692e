#include "tests/soak/SoakBound.h"

#include <algorithm>

#include "engine/ComponentEntry.h"

namespace kivtest {

namespace {

// The waits of the upgrade sequence, in scaled ms, as the engine is built to keep them.
constexpr uint64_t kBeginPacketPause = 2500; // after the begin packet of a transfer
constexpr uint64_t kStepPause = 1000;        // between components, after the erase
constexpr uint64_t kResultRead = 8000;       // one read of the router's result
constexpr uint64_t kResultLimit = 120000;    // the router's result, most images
constexpr uint64_t kAppResultLimit = 300000; // the router's result, APP images
constexpr uint64_t kEraseWait = 4000;        // erase echo; three tries, 1000 ms apart
constexpr uint64_t kProbePause = 2000;       // before every ready probe
constexpr uint64_t kProbeWait = 2000;        // ready probe and force-load echo
constexpr uint64_t READY_LIMIT = 60000;      // each ready wait while the module restarts
constexpr uint64_t kSettle = 6000;           // between the two ready waits
constexpr uint64_t kForceLoadPause = 2000;   // after entering force-load mode
constexpr uint64_t kOfflinePause = 100;
constexpr uint64_t kBlockAckWait = 5000; // one block acknowledgement
// A DIAG command that never gets a usable answer: five tries of a 3000 ms read (6000 ms
// for the hand-shake) and a 200 ms pause.
constexpr uint64_t kCommandFails = 5 * (3000 + 200);
constexpr uint64_t kHandShakeFails = 5 * (6000 + 200);
// A ready wait that ends at its limit: the probe running when the limit passes finishes.
constexpr uint64_t kReadyFails = READY_LIMIT + kProbePause + kProbeWait;
// The version check of a run through the programs: discovery, Telnet, three DIAG queries.
constexpr uint64_t kCheck = 30000;

} // namespace

SoakBound::SoakBound(const SoakPlan& plan, const Run& run) : m_Plan(plan), m_Run(run)
{
    for (int c : plan.components)
        (c >= COMPONENT_FIRMWARE ? m_nWirelessImages : m_nRouterImages) += 1;

    // Mandated waits of a run that meets no fault.
    if (plan.mode == SoakMode::Process)
        Add("check", kCheck);
    Add("router images", m_nRouterImages * (kBeginPacketPause + run.flashMs + kStepPause));
    bool erase = false;
    for (int c : plan.components)
        erase = erase || (c != COMPONENT_BOOT && c < COMPONENT_FIRMWARE);
    if (erase)
        Add("erase", kStepPause);
    uint64_t restart = run.restartMs;
    if (auto slow = plan.ValueOf(Fault::SlowRestart))
        restart = std::min<uint64_t>(std::stoull(*slow), READY_LIMIT);
    Add("wireless images", m_nWirelessImages * WirelessImageMs(restart));
    if (m_nWirelessImages != 0)
        Add("leave force-load", kProbeWait);

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
    const uint64_t waiting = restartMs + kProbePause + kProbeWait + kSettle + kProbePause;
    return kProbePause                                       // the ready wait before the hand-shake
           + kOfflinePause + kBeginPacketPause + 2 * waiting // into the downloader, and back after the reset
           + kStepPause;
}

uint64_t SoakBound::FaultExtra(Fault fault, const std::string& value) const
{
    const uint64_t resultWait = m_nRouterImages == 0 ? 0
                                                     : (m_Run.appImage ? kAppResultLimit : kResultLimit) + kResultRead;
    const uint64_t images = static_cast<uint64_t>(std::max(m_nWirelessImages, 1));
    const uint64_t forceLoad = kProbeWait + kForceLoadPause + kProbePause + kProbeWait;
    if (fault == Fault::DropBlockAck)
        return kBlockAckWait;
    if (fault == Fault::BareBlockAck) {
        // After an answer that never comes, a bare 02 may always be that answer: every later
        // block may wait once more before its retry is taken.
        for (Fault lost : {Fault::DropBlockAck, Fault::LateAck, Fault::DropFrame, Fault::CorruptFcs,
                           Fault::ResetDuringBlock, Fault::NoAnswer})
            if (m_Plan.ValueOf(lost))
                return uint64_t(m_Run.wirelessBlocks) * kBlockAckWait;
        return 0;
    }
    if (fault == Fault::LateAck)
        return 2 * kBlockAckWait; // its own wait, and one more where the late answer lands
    if (fault == Fault::ResetDuringBlock)
        return 5 * (3000 + kBlockAckWait); // five tries of the block on the broken channel
    if (fault == Fault::CorruptFcs || fault == Fault::DropFrame)
        return std::max(resultWait, kHandShakeFails + kCommandFails); // the one answer lost
    if (fault == Fault::ResetDuringData || fault == Fault::NoResult)
        return resultWait;
    if (fault == Fault::NoEraseEcho)
        return 3 * (kEraseWait + kStepPause);
    if (fault == Fault::NoHandshake)
        return kHandShakeFails + forceLoad;
    if (fault == Fault::UnlockRefused)
        return images * (2 * 5 * 200 + forceLoad);
    if (fault == Fault::NoForceLoadEcho)
        return images * 2 * kProbeWait;
    if (fault == Fault::ModuleNotBack)
        return kReadyFails;
    if (fault == Fault::SlowRestart)
        return std::stoull(value) > READY_LIMIT ? kReadyFails : 0; // the rest is in the restarts
    if (fault == Fault::NoAnswer) {
        if (value == "hand-shake") // two before the download, three after the restart
            return images * (5 * kHandShakeFails + 2 * forceLoad + kCommandFails);
        if (value == "nv-restore-status" || value == "nv-restore")
            return 6 * kCommandFails; // two passes of two queries and a restore
        if (value == "block-write")
            return 5 * kBlockAckWait;
        return images * (2 * kCommandFails + forceLoad);
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
