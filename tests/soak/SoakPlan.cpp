#include "tests/soak/SoakPlan.h"

#include <algorithm>
#include <random>

#include "engine/ComponentEntry.h"
#include "sim/CSimConfig.h"
#include "tests/support/SampleSet.h"
#include "wire/DiagRequestName.h"

namespace kivtest {

namespace {

// Uniform draws by hand from the raw generator, whose output the standard fixes: the
// library's distributions may differ between versions, and a seed must replay everywhere.
class Draws {
public:
    explicit Draws(uint64_t seed) : m_Generator(seed ^ 0x9E3779B97F4A7C15ull) {}
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : m_Generator() % n; }
    uint32_t Between(uint32_t low, uint32_t high)
    {
        return low + static_cast<uint32_t>(Below(uint64_t(high) - low + 1));
    }
    bool Chance(uint64_t numerator, uint64_t denominator) { return Below(denominator) < numerator; }
    template <typename T>
    const T& Pick(const std::vector<T>& items)
    {
        return items[Below(items.size())];
    }

private:
    std::mt19937_64 m_Generator;
};

// Where a fault can act: only runs that send what it spoils draw it.
enum class Scope { Any, Router, Erase, Wireless };

struct FaultKind {
    Fault fault;
    Scope scope;
};

const std::vector<FaultKind>& Kinds()
{
    static const std::vector<FaultKind> KINDS = {
        {Fault::NakBlock, Scope::Wireless},
        {Fault::DropBlockAck, Scope::Wireless},
        {Fault::LateAck, Scope::Wireless},
        {Fault::ResetDuringBlock, Scope::Wireless},
        {Fault::CorruptFcs, Scope::Any},
        {Fault::DropFrame, Scope::Any},
        {Fault::ResetDuringData, Scope::Router},
        {Fault::ResultValue, Scope::Router},
        {Fault::NoResult, Scope::Router},
        {Fault::NoEraseEcho, Scope::Erase},
        {Fault::NoHandshake, Scope::Wireless},
        {Fault::UnlockRefused, Scope::Wireless},
        {Fault::SlowRestart, Scope::Wireless},
        {Fault::ModuleNotBack, Scope::Wireless},
        {Fault::StillInDownloader, Scope::Wireless},
        {Fault::NvRestoreFail, Scope::Wireless},
        {Fault::NoForceLoadEcho, Scope::Wireless},
        {Fault::NoAnswer, Scope::Wireless},
    };
    return KINDS;
}

bool IsBlockFault(Fault fault)
{
    return fault == Fault::NakBlock || fault == Fault::DropBlockAck || fault == Fault::LateAck ||
           fault == Fault::ResetDuringBlock;
}

// Requests the engine sends to the module: all but the NV item commands, which it never sends.
const std::vector<std::string>& EngineRequests()
{
    static const std::vector<std::string> REQUESTS = [] {
        std::vector<std::string> sent;
        for (const std::string& name : DiagRequestName::ModuleRequests())
            if (name != "nv-read" && name != "nv-write")
                sent.push_back(name);
        return sent;
    }();
    return REQUESTS;
}

constexpr uint32_t BLOCK = 4096;
// The sample dashboard: 300001 + 120003 data bytes.
constexpr uint32_t DASHBOARD_BLOCKS = (300001 + BLOCK - 1) / BLOCK + (120003 + BLOCK - 1) / BLOCK;
// The sample router images hold about 20000 to 28000 data bytes.
constexpr uint32_t ROUTER_DATA_BYTES = 28000;

} // namespace

std::string DrawnFault::Spec() const
{
    const std::string name = CFaultTable::Describe(fault).name;
    return value.empty() ? name : name + "=" + value;
}

const std::vector<Fault>& SoakPlan::DrawableFaults()
{
    static const std::vector<Fault> ALL = [] {
        std::vector<Fault> faults;
        for (const FaultKind& kind : Kinds())
            faults.push_back(kind.fault);
        // A way of answering rather than a failure: drawn on its own, after the faults.
        faults.push_back(Fault::BareBlockAck);
        return faults;
    }();
    return ALL;
}

const char* SoakPlan::ModeName(SoakMode mode) { return mode == SoakMode::Process ? "process" : "in-process"; }

SoakPlan SoakPlan::Draw(uint64_t seed, std::optional<SoakMode> forced)
{
    Draws draw(seed);
    SoakPlan plan;
    plan.seed = seed;
    const bool throughPrograms = draw.Chance(1, 8); // drawn always: a forced mode keeps the rest
    plan.mode = forced ? *forced : (throughPrograms ? SoakMode::Process : SoakMode::InProcess);
    plan.family = draw.Chance(1, 2) ? 'A' : 'B';
    const int first = plan.family == 'A' ? COMPONENT_BOOT : COMPONENT_COMMON_HTML;
    const int last = plan.family == 'A' ? COMPONENT_CUSTOMIZATION : COMPONENT_CONFIG_FILE;
    for (int c = first; c <= last; ++c)
        if (draw.Chance(1, 2))
            plan.components.push_back(c);
    // Without, with one or with both wireless images.
    const uint64_t wireless = draw.Below(4);
    if (wireless == 1 || wireless == 3)
        plan.components.push_back(COMPONENT_FIRMWARE);
    if (wireless == 2 || wireless == 3)
        plan.components.push_back(COMPONENT_DASHBOARD);
    if (plan.components.empty())
        plan.components.push_back(first + static_cast<int>(draw.Below(uint64_t(last - first + 1))));

    static const std::vector<uint32_t> SIZES = {16 * 1024, 64 * 1024, 160 * 1024};
    plan.firmwareSize = plan.mode == SoakMode::Process ? SampleSet::FIRMWARE_SIZE : draw.Pick(SIZES);
    if (draw.Chance(1, 2)) {
        plan.latencyMinMs = draw.Between(0, 50);
        plan.latencyMaxMs = plan.latencyMinMs + draw.Between(0, 300);
    }

    uint32_t blocks = 0;
    if (plan.Has(COMPONENT_FIRMWARE))
        blocks += plan.firmwareSize / BLOCK + 5;
    if (plan.Has(COMPONENT_DASHBOARD))
        blocks += DASHBOARD_BLOCKS;
    const uint32_t frames = 4 + 2 * static_cast<uint32_t>(plan.components.size()) + blocks +
                            (plan.HasWireless() ? 30 : 0);
    bool eraseSent = false;
    for (int c : plan.components)
        eraseSent = eraseSent || (c != COMPONENT_BOOT && c < COMPONENT_FIRMWARE);

    std::vector<FaultKind> candidates;
    for (const FaultKind& kind : Kinds()) {
        const bool applies = kind.scope == Scope::Any || (kind.scope == Scope::Router && plan.HasRouterImage()) ||
                             (kind.scope == Scope::Erase && eraseSent) ||
                             (kind.scope == Scope::Wireless && plan.HasWireless());
        if (applies)
            candidates.push_back(kind);
    }
    const uint64_t count = draw.Below(4);
    uint32_t anchor = 0; // the first block fault's request: the others cluster around it
    for (uint64_t i = 0; i < count && !candidates.empty(); ++i) {
        const size_t at = draw.Below(candidates.size());
        const Fault fault = candidates[at].fault;
        candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(at));
        std::string value;
        if (IsBlockFault(fault)) {
            const uint32_t n = anchor != 0 && draw.Chance(2, 3) ? anchor + draw.Between(0, 6)
                                                                : draw.Between(1, blocks + 4);
            anchor = anchor == 0 ? n : anchor;
            value = std::to_string(n);
        } else if (fault == Fault::CorruptFcs || fault == Fault::DropFrame) {
            value = std::to_string(draw.Between(1, frames));
        } else if (fault == Fault::ResetDuringData) {
            value = std::to_string(draw.Between(1, ROUTER_DATA_BYTES));
        } else if (fault == Fault::ResultValue) {
            value = std::to_string(draw.Pick(std::vector<uint32_t>{0, 1, 2, 3, 5, 6, 255}));
        } else if (fault == Fault::UnlockRefused) {
            value = std::to_string(draw.Between(1, 12));
        } else if (fault == Fault::SlowRestart) {
            value = std::to_string(draw.Between(1000, 70000));
        } else if (fault == Fault::NoAnswer) {
            value = draw.Pick(EngineRequests());
        }
        plan.faults.push_back({fault, value});
    }
    // Drawn last, so that every seed keeps the faults it drew before this draw existed.
    if (plan.HasWireless() && draw.Chance(1, 4))
        plan.faults.push_back({Fault::BareBlockAck, ""});
    return plan;
}

bool SoakPlan::Has(int component) const
{
    return std::find(components.begin(), components.end(), component) != components.end();
}

bool SoakPlan::HasWireless() const { return Has(COMPONENT_FIRMWARE) || Has(COMPONENT_DASHBOARD); }

bool SoakPlan::HasRouterImage() const
{
    return std::any_of(components.begin(), components.end(), [](int c) { return c < COMPONENT_FIRMWARE; });
}

std::optional<std::string> SoakPlan::ValueOf(Fault fault) const
{
    for (const DrawnFault& drawn : faults) {
        if (drawn.fault == fault)
            return drawn.value;
    }
    return std::nullopt;
}

bool SoakPlan::Apply(CSimConfig& config, std::string& error) const
{
    config.family = family;
    config.seed = seed;
    config.latencyMinMs = latencyMinMs;
    config.latencyMaxMs = latencyMaxMs;
    for (const DrawnFault& drawn : faults) {
        if (!config.faults.Add(drawn.Spec(), error))
            return false;
    }
    return true;
}

std::vector<std::string> SoakPlan::SimArguments() const
{
    std::vector<std::string> args = {"--family", std::string(1, family), "--seed", std::to_string(seed)};
    if (latencyMaxMs != 0)
        args.insert(args.end(), {"--latency", std::to_string(latencyMinMs) + "-" + std::to_string(latencyMaxMs)});
    for (const DrawnFault& drawn : faults)
        args.insert(args.end(), {"--fault", drawn.Spec()});
    return args;
}

std::string SoakPlan::Describe() const
{
    static const char* const SHORT[COMPONENT_COUNT] = {"boot",  "app",    "custom",   "html",     "special",
                                                       "app-b", "config", "firmware", "dashboard"};
    std::string images;
    for (int c : components)
        images += (images.empty() ? "" : ",") + std::string(SHORT[c]);
    std::string faultText;
    for (const DrawnFault& drawn : faults)
        faultText += (faultText.empty() ? "" : ",") + drawn.Spec();
    std::string text = "seed=" + std::to_string(seed) + " mode=" + ModeName(mode) +
                       " family=" + std::string(1, family) + " images=" + images;
    if (HasWireless() && Has(COMPONENT_FIRMWARE))
        text += " firmware=" + std::to_string(firmwareSize / 1024) + "KiB";
    text += " latency=" + (latencyMaxMs == 0
                               ? std::string("none")
                               : std::to_string(latencyMinMs) + "-" + std::to_string(latencyMaxMs) + "ms");
    text += " faults=" + (faultText.empty() ? std::string("none") : faultText);
    return text;
}

} // namespace kivtest
