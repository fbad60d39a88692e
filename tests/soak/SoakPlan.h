#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/CFaultTable.h"

class CSimConfig;

namespace kivtest {

// Where a soak run takes place: the engine against the simulator in this process, or
// kivupgrade-cli against kivrouter-sim as programs.
enum class SoakMode { InProcess, Process };

// One fault a run drew, with its value ("" for a fault that takes none).
struct DrawnFault {
    Fault fault;
    std::string value;

    // "name" or "name=value", as --fault takes it.
    std::string Spec() const;
};

// One soak run, drawn from its seed alone, so that the seed replays it: the router family,
// the images selected (with and without the wireless ones), 0 to 3 simulator faults with
// their values, whether the module acknowledges blocks with a bare 02 (one wireless run in
// four; listed with the faults), the answer latency and, unless forced, where the run
// takes place.
struct SoakPlan {
    uint64_t seed = 0;
    SoakMode mode = SoakMode::InProcess;
    char family = 'A';
    std::vector<int> components; // component indexes, ascending
    uint32_t firmwareSize = 0;   // total data bytes of the sample firmware
    std::vector<DrawnFault> faults;
    uint32_t latencyMinMs = 0; // answer latency of the simulator (scaled ms)
    uint32_t latencyMaxMs = 0;

    // Draws the run of `seed`. Without `forced`, one run in eight goes through the programs.
    static SoakPlan Draw(uint64_t seed, std::optional<SoakMode> forced = std::nullopt);

    bool Has(int component) const;
    bool HasWireless() const;
    bool HasRouterImage() const;
    // The fault's value, when the fault was drawn ("" for one without a value).
    std::optional<std::string> ValueOf(Fault fault) const;

    // The simulator's configuration for this run (family, seed, latency, faults); false with
    // the simulator's reason when it refuses a fault.
    bool Apply(CSimConfig& config, std::string& error) const;
    // The same as kivrouter-sim arguments.
    std::vector<std::string> SimArguments() const;
    // One line: seed, mode, family, images, firmware size, latency, faults.
    std::string Describe() const;

    // Every fault a soak run may draw, in a fixed order.
    static const std::vector<Fault>& DrawableFaults();
    static const char* ModeName(SoakMode mode);
};

} // namespace kivtest
