#include "tests/soak/SoakCheck.h"

#include <algorithm>
#include <regex>

#include "engine/CUpgradeEngine.h"
#include "engine/ComponentEntry.h"
#include "res/Resources.h"

namespace kivtest {

namespace {

const std::string SEPARATOR(50, '+');

std::string TypeName(int component) { return LoadStringResource(COMPONENT_TYPE_NAME_IDS[component]); }

// The texts a component step may end with: success, or one of the failure results.
const std::vector<std::string>& FailureTexts()
{
    static const std::vector<std::string> TEXTS = [] {
        std::vector<std::string> all;
        for (uint32_t id = CUpgradeEngine::IDS_TCP_CONNECT_FAILED; id <= CUpgradeEngine::IDS_NV_RESTORE_FAILED; ++id)
            all.push_back(LoadStringResource(id));
        return all;
    }();
    return TEXTS;
}

std::vector<MemoryExtent> RecordedExtents(const nlohmann::json& record)
{
    std::vector<MemoryExtent> extents;
    if (!record.contains("extents") || !record["extents"].is_array())
        return extents;
    for (const auto& e : record["extents"])
        extents.push_back({e.value("address", 0u), e.value("length", uint64_t(0)), e.value("digest", "")});
    return extents;
}

bool IsEvent(const nlohmann::json& r, const char* proto, const char* event)
{
    return r.value("proto", "") == proto && r.value("kind", "") == "event" && r.value("event", "") == event;
}

} // namespace

SoakCheck::Expected SoakCheck::Expect(const std::vector<uint8_t>& file, int component)
{
    Expected expected;
    const std::vector<ImagePart> parts = ImagePartsOf(file);
    if (parts.empty())
        return expected;
    expected.router = component < COMPONENT_FIRMWARE;
    if (expected.router) {
        expected.length = parts[0].data.size();
        expected.digest = Fnv1aDigest(parts[0].data);
    } else {
        expected.extents = ExtentsOf(parts);
    }
    return expected;
}

bool SoakCheck::IsResultText(const std::string& status, bool& success)
{
    static const std::regex ELAPSED(" \\([0-9]{2}:[0-9]{2}\\)$");
    std::smatch match;
    if (!std::regex_search(status, match, ELAPSED))
        return false;
    const std::string text = status.substr(0, static_cast<size_t>(match.position(0)));
    success = text == LoadStringResource(CUpgradeEngine::IDS_DOWNLOAD_SUCCESS);
    const auto& failures = FailureTexts();
    return success || std::find(failures.begin(), failures.end(), text) != failures.end();
}

SoakCheck::Verdict SoakCheck::Judge(const Observation& o)
{
    Verdict v;
    v.failureSeen = o.runFailed;
    if (!o.ended) {
        v.hang = true;
        v.problems.push_back("hang: the run did not end within the hang cap");
    } else if (!o.tooSlow.empty()) {
        v.slow = true;
        v.problems.push_back("slow: " + o.tooSlow);
    }
    if (o.after.Exceeds(o.before)) {
        v.leak = true;
        v.problems.push_back("leak: before the run " + o.before.Text() + ", after it " + o.after.Text());
    }
    CheckRows(o, v);
    if (o.upgradeRan)
        CheckRunEnd(o, v);
    CheckViolations(o, v);
    return v;
}

void SoakCheck::CheckRows(const Observation& o, Verdict& v)
{
    bool anyFailed = false;
    bool allSucceeded = true;
    for (int c : o.plan->components) {
        auto row = o.rows.find(c);
        if (row == o.rows.end()) {
            v.broken = true;
            v.problems.push_back("no row for " + TypeName(c));
            continue;
        }
        const std::string& status = row->second.status;
        const uint32_t colour = row->second.colour;
        bool success = false;
        if (!o.upgradeRan)
            continue; // the check failed: the rows hold its texts, nothing was written
        if (status == o.notTried) {
            // Not tried: only after a failure, which ends the run.
            allSucceeded = false;
            if (!o.runFailed) {
                v.broken = true;
                v.problems.push_back(TypeName(c) + " was never tried although the run reports no failure");
            }
            continue;
        }
        if (!IsResultText(status, success)) {
            v.broken = true;
            v.problems.push_back(TypeName(c) + " ends with '" + status + "', which is no result");
            continue;
        }
        const uint32_t wanted = success ? CUpgradeEngine::COLOUR_SUCCESS : CUpgradeEngine::COLOUR_FAILURE;
        if (colour != wanted) {
            v.broken = true;
            v.problems.push_back(TypeName(c) + " shows '" + status + "' in colour " + std::to_string(colour));
        }
        if (success)
            CheckWritten(o, c, v);
        else
            anyFailed = true;
        allSucceeded = allSucceeded && success;
    }
    if (anyFailed && !o.runFailed) {
        v.broken = true;
        v.problems.push_back("a row shows a failure but the run reports success");
    }
    if (!o.runFailed && !allSucceeded && o.upgradeRan) {
        v.broken = true;
        v.problems.push_back("the run reports success but not every image shows 'Download successfully'");
    }
    if (o.exitCode) {
        const int wanted = o.runFailed ? 1 : 0;
        if (*o.exitCode != wanted) {
            v.broken = true;
            v.problems.push_back("kivupgrade-cli exited " + std::to_string(*o.exitCode) + ", expected " +
                                 std::to_string(wanted));
        }
    }
}

void SoakCheck::CheckWritten(const Observation& o, int component, Verdict& v)
{
    auto wanted = o.expected.find(component);
    if (wanted == o.expected.end()) {
        v.broken = true;
        v.problems.push_back("no expected image for " + TypeName(component));
        return;
    }
    const Expected& e = wanted->second;
    bool held = false;
    for (const nlohmann::json& r : o.transcript) {
        if (e.router) {
            held = held || (IsEvent(r, "router", "result") && r.value("value", 0u) == 4u /* success */ &&
                            r.value("length", uint64_t(0)) == e.length && r.value("digest", "") == e.digest);
        } else {
            held = held || (IsEvent(r, "module", "image complete") && RecordedExtents(r) == e.extents);
        }
    }
    if (!held) {
        v.falseSuccess = true;
        v.problems.push_back("false success: " + TypeName(component) +
                             " shows 'Download successfully' but the router does not hold that image whole");
    }
}

void SoakCheck::CheckRunEnd(const Observation& o, Verdict& v)
{
    const size_t end = o.log.rfind(SEPARATOR);
    if (end == std::string::npos || o.log.substr(end) != SEPARATOR + "\r\n") {
        v.broken = true;
        v.problems.push_back("the log does not end with the separator line");
    }
    if (!o.channelClosed) {
        v.broken = true;
        v.problems.push_back("the channel to the router was left open");
    }
    if (!o.plan->HasWireless())
        return;
    const size_t leave = o.log.rfind("Leave Forcing Download Mode ...");
    bool received = false;
    for (const nlohmann::json& r : o.transcript)
        received = received || (r.value("proto", "") == "udp" && r.value("dir", "") == "in" &&
                                r.value("name", "") == "leave-force-load");
    if (leave == std::string::npos || end == std::string::npos || leave > end || !received) {
        v.broken = true;
        v.problems.push_back("a wireless image was selected but the run did not leave force-load mode at its end");
    }
}

void SoakCheck::CheckViolations(const Observation& o, Verdict& v)
{
    for (const nlohmann::json& r : o.transcript) {
        if (r.value("kind", "") != "violation")
            continue;
        v.violation = true;
        v.problems.push_back("protocol violation: " + r.value("violation", std::string("?")) + " (" +
                             r.value("proto", "") + ")");
    }
}

} // namespace kivtest
