// The soak: many upgrades, each with a seeded random set of simulator faults and answer
// latency, each judged by the invariants of SoakCheck. Which runs this program holds comes
// from the environment (the README's test command runs the default short set):
//   KIV_SOAK_RUNS  number of runs (25)
//   KIV_SOAK_SEED  seed of the first run (1); run i has seed KIV_SOAK_SEED + i
//   KIV_SOAK_MODE  in-process or process to force where every run takes place; by default
//                  the seed decides (one run in eight goes through the programs)
//   KIV_SOAK_KEEP  a directory: every run's transcript and download log are kept there, in
//                  seed_N/ (by default they go with the run's temporary directory)
// scripts/soak.sh runs it and adds up the summary lines; a failing run prints the one
// command that replays it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <unistd.h>

#include "app/CVersionCheck.h"
#include "images/CBinFile.h"
#include "images/CSampleImage.h"
#include "platform/Clock.h"
#include "res/Resources.h"
#include "tests/soak/SoakBound.h"
#include "tests/soak/SoakCheck.h"
#include "tests/soak/SoakTally.h"
#include "tests/support/CliFixture.h"
#include "tests/support/EngineSimFixture.h"
#include "tests/support/Files.h"
#include "tests/support/SampleSet.h"
#include "tests/support/SimFixture.h"
#include "tests/support/Strict.h"
#include "tests/support/Wait.h"

namespace kivtest {
namespace {

using Clock = std::chrono::steady_clock;

// How long a run that passed its bound is still waited for before the program gives up on
// it (a thread that never returns cannot be joined, so the program ends).
constexpr auto HUNG_RUN_GUARD = std::chrono::minutes(10);
// How long a joined thread's entry in /proc/self/task is waited for to go, in real ms.
constexpr int THREAD_END_GRACE_MS = 2000;

uint64_t EnvNumber(const char* name, uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' ? value : fallback;
}

std::optional<SoakMode> ForcedMode()
{
    const char* text = std::getenv("KIV_SOAK_MODE");
    const std::string mode = text != nullptr ? text : "";
    if (mode == "in-process")
        return SoakMode::InProcess;
    if (mode == "process")
        return SoakMode::Process;
    return std::nullopt;
}

// The seeds of this program's runs that take place in `mode`.
std::vector<uint64_t> SeedsFor(SoakMode mode)
{
    const uint64_t runs = EnvNumber("KIV_SOAK_RUNS", 25);
    const uint64_t first = EnvNumber("KIV_SOAK_SEED", 1);
    std::vector<uint64_t> seeds;
    for (uint64_t i = 0; i < runs; ++i)
        if (SoakPlan::Draw(first + i, ForcedMode()).mode == mode)
            seeds.push_back(first + i);
    return seeds;
}

std::string SeedName(const ::testing::TestParamInfo<uint64_t>& info) { return "seed_" + std::to_string(info.param); }

std::string ReplayCommand(uint64_t seed)
{
    const char* mode = std::getenv("KIV_SOAK_MODE");
    const std::string prefix = mode != nullptr && *mode != '\0' ? std::string("KIV_SOAK_MODE=") + mode + " " : "";
    return prefix + "scripts/soak.sh 1 " + std::to_string(seed);
}

std::string Seconds(std::chrono::milliseconds ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", double(ms.count()) / 1000.0);
    return text;
}

void Say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Writes the run's line (and, for a failed run, its problems and its replay command), adds
// it to the tally and fails the test when an invariant broke.
void Report(const SoakPlan& plan, const SoakCheck::Verdict& verdict, std::chrono::milliseconds elapsed,
            const SoakBound& bound, const std::string& result)
{
    SoakTally::Get().Add(plan, verdict, elapsed, bound.Limit());
    Say("soak: run " + plan.Describe() + " -> " + result + " in " + Seconds(elapsed) + " (bound " +
        Seconds(bound.Limit()) + ")" + (verdict.Ok() ? "" : " FAILED"));
    if (verdict.Ok())
        return;
    std::string problems;
    for (const std::string& problem : verdict.problems)
        problems += "\n  " + problem;
    Say("soak: problems:" + problems);
    Say("soak: bound: " + bound.Breakdown());
    Say("soak: replay: " + ReplayCommand(plan.seed));
    ADD_FAILURE() << "seed " << plan.seed << ":" << problems << "\nreplay: " << ReplayCommand(plan.seed);
}

// Why a run that ended took too long for its bound; empty when it did not.
std::string TooSlow(std::chrono::milliseconds elapsed, const SoakBound& bound)
{
    if (elapsed <= bound.Limit())
        return std::string();
    return "took " + Seconds(elapsed) + ", more than its bound of " + Seconds(bound.Limit()) + " (" +
           bound.Breakdown() + ")";
}

// A fault-free reference that failed is a broken invariant of its own: every run with those
// images is then judged against the hang cap alone.
void NoteReference(const SoakBound::Reference& reference, SoakCheck::Verdict& verdict)
{
    if (reference.failure.empty())
        return;
    verdict.broken = true;
    verdict.problems.push_back("the fault-free reference run of these images " + reference.failure);
}

// Copies the run's transcript and log below KIV_SOAK_KEEP, when it is set.
void Keep(uint64_t seed, const std::string& transcript, const std::string& log)
{
    const char* keep = std::getenv("KIV_SOAK_KEEP");
    if (keep == nullptr || *keep == '\0')
        return;
    const std::string dir = std::string(keep) + "/seed_" + std::to_string(seed);
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    EXPECT_TRUE(WriteFile(dir + "/transcript.jsonl", transcript)) << dir;
    EXPECT_TRUE(WriteFile(dir + "/KivUpgradeLog.txt", log)) << dir;
}

std::string ResultText(bool failed, const std::string& text) { return failed ? "failure (" + text + ")" : "success"; }

// Prints the soak's counts when the program ends.
class SoakSummary : public ::testing::Environment {
public:
    // Some runtimes (the thread sanitizer's) start a helper thread of their own when the
    // program first starts one, and keep it: started here, before any run counts threads,
    // it is no run's leak.
    // The thread's own entry in /proc/self/task may outlive the join for a moment: waited
    // for here, so that the first run's count does not include it.
    void SetUp() override
    {
        pid_t tid = 0;
        std::thread([&tid] { tid = gettid(); }).join();
        const std::string entry = "/proc/self/task/" + std::to_string(tid);
        WaitFor([&] { return !std::filesystem::exists(entry); }, THREAD_END_GRACE_MS);
    }

    void TearDown() override
    {
        Say(SoakTally::Get().FaultsDrawn());
        Say(SoakTally::Get().Slowest());
        Say(SoakTally::Get().Summary());
    }
};
::testing::Environment* const SUMMARY = ::testing::AddGlobalTestEnvironment(new SoakSummary);

// ---------------------------------------------------------------------------------------
// In-process: the engine against the simulator in this process.

class SoakRun : public EngineSimFixture, public ::testing::WithParamInterface<uint64_t> {
protected:
    // Waits for the end of the run, up to `limit`; a run past it is reported as hung at once
    // and waited for a while longer.
    bool WaitForEnd(const SoakPlan& plan, std::chrono::milliseconds limit)
    {
        if (WaitUpgradeEnd(limit))
            return true;
        Say("soak: run seed=" + std::to_string(plan.seed) + " did not end within " + Seconds(limit) +
            "; replay: " + ReplayCommand(plan.seed));
        if (!WaitUpgradeEnd(HUNG_RUN_GUARD)) {
            Say("soak: run seed=" + std::to_string(plan.seed) + " still runs; the program ends here");
            std::_Exit(70);
        }
        return false;
    }
};

TEST_P(SoakRun, Upgrade)
{
    const SoakPlan plan = SoakPlan::Draw(GetParam(), ForcedMode());
    const SoakBound::Reference reference =
        SoakBound::ReferenceFor(plan, [&plan] { return SoakBound::MeasureInProcess(plan); });
    const SoakBound bound(plan, reference, GetTimeScale());
    const ProcessCounts before = ProcessCounts::Now();
    std::string refused;
    ASSERT_TRUE(plan.Apply(m_Config, refused)) << plan.Describe() << ": " << refused;
    ASSERT_TRUE(m_Table.Load(plan.components, plan.firmwareSize));

    StartSim();
    ASSERT_FALSE(HasFatalFailure());
    const auto start = Clock::now();
    StartUpgrade();
    const bool ended = WaitForEnd(plan, SoakBound::HangCap(GetTimeScale()));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EndUpgrade();

    SoakCheck::Observation o;
    o.plan = &plan;
    for (int c : plan.components) {
        o.rows[c] = SoakCheck::Row{Status(RowOf(c)), Colour(RowOf(c))};
        o.expected[c] = SoakCheck::Expect(m_Table.Bytes(c), c);
    }
    o.transcript = Transcript();
    o.log = m_Log;
    Keep(plan.seed, ReadFile(m_Config.transcriptPath), m_Log);
    const UpgradeRunOutcome outcome = m_pEngine->GetRunOutcome();
    o.runFailed = outcome.bFailed;
    o.channelClosed = !m_pSession->Adapter().IsOpen();
    o.ended = ended;
    o.tooSlow = TooSlow(elapsed, bound);
    m_pEngine.reset();
    m_pSession.reset();
    o.before = before;
    o.after = ProcessCounts::Settled(before, THREAD_END_GRACE_MS);
    SoakCheck::Verdict verdict = SoakCheck::Judge(o);
    NoteReference(reference, verdict);
    Report(plan, verdict, elapsed, bound, ResultText(outcome.bFailed, outcome.strResultText));
}

INSTANTIATE_TEST_SUITE_P(InProcess, SoakRun, ::testing::ValuesIn(SeedsFor(SoakMode::InProcess)), SeedName);

// Runs that once broke an invariant, replayed by the default set (not by a soak of
// KIV_SOAK_RUNS runs, which counts only its own).
std::vector<uint64_t> FoundSeeds()
{
    if (std::getenv("KIV_SOAK_RUNS") != nullptr)
        return {};
    return {
        // late-ack=12, nak-block=14: the twelfth block write's bare 02 came late, ahead of the
        // refusal of the next block, and was taken for its acknowledgement: the block was
        // skipped and the firmware shown as written.
        34358,
        // late-ack=38, nak-block=40 (dashboard), and late-ack=58, nak-block=60 with a slow
        // restart: the same.
        31185,
        10599,
        // drop-block-ack=7 with bare acknowledgements (dashboard): the lost answer was owed for
        // ever, so every later block waited out its 5 s and was written twice; 26.7 s against
        // a bound of 11.4 s (slow), 2.7 s once a late answer is owed for one more wait only.
        1031,
    };
}
INSTANTIATE_TEST_SUITE_P(Found, SoakRun, ::testing::ValuesIn(FoundSeeds()), SeedName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SoakRun);

// ---------------------------------------------------------------------------------------
// Through the programs: kivupgrade-cli upgrade against kivrouter-sim.

class SoakProgramsRun : public CliFixture, public ::testing::WithParamInterface<uint64_t> {
protected:
    // The sample images of the plan in a directory of their own; their bytes stay in
    // m_Files for the expected digests.
    std::string WriteImages(const SoakPlan& plan)
    {
        const std::string dir = m_Dir / "images";
        std::filesystem::create_directories(dir);
        const std::string family(1, static_cast<char>(std::tolower(plan.family)));
        for (int c : plan.components) {
            for (const SampleImage::SampleInfo& info : SampleImage::GetSampleCatalogue()) {
                if (static_cast<int>(info.m_nType) != c || info.m_strFamily != family)
                    continue;
                const std::string from = SampleSet::Shared().Family(family) + "/" + info.m_strFileName;
                const std::string bytes = ReadFile(from);
                EXPECT_TRUE(WriteFile(dir + "/" + info.m_strFileName, bytes)) << from;
                m_Files[c].assign(bytes.begin(), bytes.end());
                EXPECT_TRUE(m_Images[c].OpenMemory(m_Files[c].data(), m_Files[c].size(), static_cast<uint32_t>(c), true,
                                                   dir + "/" + info.m_strFileName))
                    << from;
            }
        }
        return dir;
    }

    // True once the simulator has seen every connection it accepted closed again.
    bool AllConnectionsClosed() const
    {
        int open = 0;
        for (const nlohmann::json& r : ParseJsonLines(Transcript())) {
            if (r.value("kind", "") != "event" || (r.value("proto", "") != "tcp" && r.value("proto", "") != "telnet"))
                continue;
            const std::string event = r.value("event", "");
            if (event == "connected")
                ++open;
            else if (event == "closed" || event == "connection reset" || event == "idle connection closed")
                --open;
        }
        return open == 0;
    }

    // The simulator's transcript is a file: there is nothing to wait on but time.
    bool WaitAllConnectionsClosed(std::chrono::milliseconds limit) const
    {
        return WaitFor([this] { return AllConnectionsClosed(); }, static_cast<int>(limit.count()), 20);
    }

    // The fault-free run of the plan's images through the programs: the same images, the
    // family's router without fault or latency. Its log is removed afterwards, so that the
    // run's own log holds the run alone.
    SoakBound::Reference MeasureThroughPrograms(const SoakPlan& plan, const std::string& images)
    {
        if (!StartSim({"--family", std::string(1, plan.family)}))
            return {std::chrono::milliseconds(0), 0, "could not start the simulator"};
        Process cli;
        if (!cli.Start(CliArgs("upgrade", images), CliEnv()))
            return {std::chrono::milliseconds(0), 0, "could not start kivupgrade-cli: " + cli.Error()};
        const auto start = Clock::now();
        const CliRun run =
            Finish(cli, std::chrono::duration_cast<std::chrono::seconds>(SoakBound::HangCap(std::stod(Scale()))));
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        StopSim();
        const uint32_t answers = SoakBound::CountAnswers(Transcript());
        std::filesystem::remove(m_Dir / "KivUpgradeLog.txt");
        if (run.exitCode != 0)
            return {std::chrono::milliseconds(0), 0, "ended with exit status " + std::to_string(run.exitCode)};
        return {elapsed, answers, std::string()};
    }

    std::map<int, std::vector<uint8_t>> m_Files;
    std::map<int, CBinFile> m_Images;
};

TEST_P(SoakProgramsRun, Upgrade)
{
    KIV_REQUIRE_PROGRAM(BuildProgram(CLI_PROGRAM));
    KIV_REQUIRE_PROGRAM(SimProcess::Program());
    ASSERT_TRUE(SampleSet::Shared().Ok()) << SampleSet::Shared().Error();
    const SoakPlan plan = SoakPlan::Draw(GetParam(), ForcedMode());
    const std::string images = WriteImages(plan);
    const SoakBound::Reference reference =
        SoakBound::ReferenceFor(plan, [&] { return MeasureThroughPrograms(plan, images); });
    const SoakBound bound(plan, reference, std::stod(Scale()));
    const auto cap = SoakBound::HangCap(std::stod(Scale()));
    const ProcessCounts before = ProcessCounts::Now();

    ASSERT_TRUE(StartSim(plan.SimArguments()));
    Process cli;
    ASSERT_TRUE(cli.Start(CliArgs("upgrade", images), CliEnv())) << cli.Error();
    const auto start = Clock::now();
    const CliRun run = Finish(cli, std::chrono::duration_cast<std::chrono::seconds>(cap) + std::chrono::seconds(1));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    const bool ended = run.exitCode >= 0 && elapsed <= cap;
    const bool closed = WaitAllConnectionsClosed(std::chrono::seconds(10));
    StopSim();

    SoakCheck::Observation o;
    o.plan = &plan;
    if (run.json.is_object()) {
        for (int c : plan.components) {
            const std::string type = LoadStringResource(COMPONENT_TYPE_NAME_IDS[c]);
            for (const auto& row : run.json["rows"]) {
                if (row.value("type", "") == type)
                    o.rows[c] = SoakCheck::Row{row.value("status", ""), row.value("colour", 0u)};
            }
        }
        // A row the upgrade never reached keeps the check's "Waiting for the upgrade".
        o.notTried = LoadStringResource(CVersionCheck::IDS_WAITING_UPGRADE);
        o.upgradeRan = run.json.value("upgradeRan", false);
        o.runFailed = !run.json.value("checkPassed", false) || run.json.value("upgradeFailed", false);
    } else {
        o.upgradeRan = false;
        o.runFailed = true;
    }
    for (const auto& [c, bytes] : m_Files)
        o.expected[c] = SoakCheck::Expect(bytes, c);
    o.transcript = ParseJsonLines(Transcript());
    o.log = Log();
    Keep(plan.seed, Transcript(), o.log);
    o.channelClosed = closed;
    o.ended = ended;
    o.tooSlow = TooSlow(elapsed, bound);
    o.exitCode = run.exitCode;
    o.before = before;
    o.after = ProcessCounts::Settled(before, THREAD_END_GRACE_MS);
    SoakCheck::Verdict verdict = SoakCheck::Judge(o);
    NoteReference(reference, verdict);
    if (!run.json.is_object()) {
        verdict.broken = true;
        verdict.problems.push_back("kivupgrade-cli printed no JSON document: " + run.err);
    }
    Report(plan, verdict, elapsed, bound,
           ResultText(o.runFailed, run.json.is_object() ? run.json.value("reason", std::string()) : "no report"));
}

INSTANTIATE_TEST_SUITE_P(Programs, SoakProgramsRun, ::testing::ValuesIn(SeedsFor(SoakMode::Process)), SeedName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SoakProgramsRun);

} // namespace
} // namespace kivtest
