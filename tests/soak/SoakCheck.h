#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/soak/SoakPlan.h"
#include "tests/support/ImageParts.h"
#include "tests/support/ProcessCounts.h"

namespace kivtest {

// The invariants every soak run must keep, judged from what the run left: the component
// rows, the download log, the simulator's transcript, the time it took (against the hang cap
// and the slowdown bound of SoakBound), and the threads and descriptors of the process
// before and after.
class SoakCheck {
public:
    // What the simulator must hold for an image shown as written: a router image's data
    // (part 0) as length and digest, or a wireless image's parts as the extents of memory.
    // Derived from the image file's bytes (`file`, the image of `component`).
    struct Expected {
        bool router = false;
        uint64_t length = 0;
        std::string digest;
        std::vector<MemoryExtent> extents;
    };
    static Expected Expect(const std::vector<uint8_t>& file, int component);

    struct Row {
        std::string status;
        uint32_t colour = 0;
    };

    struct Observation {
        const SoakPlan* plan = nullptr;
        std::map<int, Row> rows;          // by component, the selected ones
        std::string notTried;             // the status of a row the upgrade never reached
        std::map<int, Expected> expected; // by component, the selected ones
        std::vector<nlohmann::json> transcript;
        std::string log;
        bool upgradeRan = true; // false: a run through the programs whose check failed
        bool runFailed = false; // the run reports a failure (shown in a row or not)
        bool channelClosed = true;
        bool ended = true;           // within the hang cap
        std::string tooSlow;         // why the run took longer than its slowdown bound; empty when it did not
        std::optional<int> exitCode; // kivupgrade-cli's, for a run through the programs
        ProcessCounts before;
        ProcessCounts after;
    };

    struct Verdict {
        bool falseSuccess = false;
        bool hang = false;
        bool slow = false; // ended, but later than a few times its fault-free time and its faults allow
        bool leak = false;
        bool violation = false;
        bool broken = false;      // any other invariant
        bool failureSeen = false; // the run reported a failure (as it may)
        std::vector<std::string> problems;

        bool Ok() const { return !falseSuccess && !hang && !slow && !leak && !violation && !broken; }
    };

    static Verdict Judge(const Observation& observation);

    // Whether a row text is a result of a component step: "<result> (MM:SS)".
    static bool IsResultText(const std::string& status, bool& success);

private:
    static void CheckRows(const Observation& o, Verdict& v);
    static void CheckWritten(const Observation& o, int component, Verdict& v);
    static void CheckRunEnd(const Observation& o, Verdict& v);
    static void CheckViolations(const Observation& o, Verdict& v);
};

} // namespace kivtest
