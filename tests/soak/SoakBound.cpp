#include "tests/soak/SoakBound.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>

#include "engine/CListModel.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "sim/CRouterSim.h"
#include "sim/CSimConfig.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestComponentTable.h"

namespace kivtest {

namespace {

using std::chrono::milliseconds;

// Scaled time past which any run counts as hung: the longest time-outs any drawn fault can
// lead to (a router result waited for minutes, five hand-shakes of five tries for each
// wireless image, restarts that never end) fit several times over.
constexpr uint64_t HANG_CAP_SCALED_MS = 30 * 60 * 1000;
// Real time for what does not scale: start-up, the image data themselves, a loaded machine.
constexpr milliseconds HANG_CAP_SLACK{60000};
// The same room in the slowdown bound, beyond SLOWDOWN times the reference: a run and its
// reference meet different loads on a shared machine.
constexpr milliseconds SLOWDOWN_SLACK{5000};
constexpr milliseconds PROCESS_SLOWDOWN_SLACK{5000};

std::string Seconds(milliseconds ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", double(ms.count()) / 1000.0);
    return text;
}

milliseconds AtScale(uint64_t scaledMs, double scale)
{
    return milliseconds(static_cast<int64_t>(static_cast<double>(scaledMs) * scale));
}

// The image set a reference stands for.
std::string ReferenceKey(const SoakPlan& plan)
{
    std::string key = std::string(SoakPlan::ModeName(plan.mode)) + " " + plan.family;
    for (int c : plan.components)
        key += " " + std::to_string(c);
    return key + " " + std::to_string(plan.firmwareSize);
}

} // namespace

milliseconds SoakBound::HangCap(double scale) { return AtScale(HANG_CAP_SCALED_MS, scale) + HANG_CAP_SLACK; }

SoakBound::Reference SoakBound::ReferenceFor(const SoakPlan& plan, const std::function<Reference()>& measure)
{
    static std::mutex lock;
    static std::map<std::string, Reference> known;
    const std::string key = ReferenceKey(plan);
    {
        std::lock_guard guard(lock);
        if (auto it = known.find(key); it != known.end())
            return it->second;
    }
    const Reference reference = measure();
    std::lock_guard guard(lock);
    return known.emplace(key, reference).first->second;
}

uint32_t SoakBound::CountAnswers(const std::string& transcript)
{
    uint32_t answers = 0;
    std::istringstream in(transcript);
    for (std::string line; std::getline(in, line);) {
        const bool routerPort = line.find("\"proto\":\"udp\"") != std::string::npos ||
                                line.find("\"proto\":\"tcp\"") != std::string::npos;
        answers += routerPort && line.find("\"dir\":\"out\"") != std::string::npos;
    }
    return answers;
}

SoakBound::Reference SoakBound::MeasureInProcess(const SoakPlan& plan)
{
    TempDir dir("kiv-soak-reference");
    CSimConfig config;
    config.address = "127.0.0.1";
    config.routerPort = 0;
    config.telnetPort = 0;
    config.family = plan.family;
    config.transcriptPath = dir / "transcript.jsonl";
    CRouterSim sim(config);
    std::string error;
    TestComponentTable table;
    if (!sim.Open(error) || !sim.Start() || !table.Load(plan.components, plan.firmwareSize))
        return Reference{milliseconds(0), 0, "the simulator or the images could not be set up: " + error};
    CListModel list;
    CRouterSession session{std::string()};
    session.SetRouter({127, 0, 0, 1}, config.mac);
    session.SetPorts(sim.RouterPort(), TELNET_PORT);
    CUpgradeEngine engine(session, table.Get());
    engine.SetList(&list);
    for (int row = 0; row < (engine.IsFamilyASelected() ? 5 : 6); ++row)
        list.InsertItem(row, "component");
    const auto start = std::chrono::steady_clock::now();
    CUpgradeEngine::UpgradeThread(&engine);
    const auto elapsed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    sim.Stop();
    const UpgradeRunOutcome outcome = engine.GetRunOutcome();
    if (outcome.bFailed)
        return Reference{milliseconds(0), 0, "it failed: " + outcome.strResultText};
    return Reference{elapsed, CountAnswers(ReadFile(config.transcriptPath)), std::string()};
}

SoakBound::SoakBound(const SoakPlan& plan, const Reference& reference, double scale)
{
    if (!reference.failure.empty()) {
        m_Limit = HangCap(scale);
        m_strBreakdown = "the hang cap " + Seconds(m_Limit) + ": the fault-free reference " + reference.failure;
        return;
    }
    uint64_t delays = 0;
    std::string faults;
    for (const DrawnFault& drawn : plan.faults) {
        const uint64_t delay = CFaultTable::DelayMs(drawn.fault, drawn.value);
        delays += delay;
        faults += " + " + drawn.Spec() + " " + std::to_string(delay);
    }
    const uint64_t latency = uint64_t(reference.answers) * plan.latencyMaxMs;
    const milliseconds slack = SLOWDOWN_SLACK +
                               (plan.mode == SoakMode::Process ? PROCESS_SLOWDOWN_SLACK : milliseconds(0));
    const auto fixed = milliseconds(static_cast<int64_t>(SLOWDOWN * static_cast<double>(reference.elapsed.count())));
    m_Limit = fixed + AtScale(delays + latency, scale) + slack;
    m_strBreakdown = Seconds(fixed) + " (" + std::to_string(int(SLOWDOWN)) + " x the fault-free " +
                     Seconds(reference.elapsed) + ") + scaled ms (" + std::to_string(reference.answers) +
                     " answers x latency " + std::to_string(plan.latencyMaxMs) + faults + ") + " + Seconds(slack);
}

} // namespace kivtest
