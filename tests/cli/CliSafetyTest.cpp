// kivupgrade-cli in the situations of real use that once went wrong: a shared /tmp holding
// another user's log or a planted link, a FIFO in place of the log, a terminal closed (or
// the program killed) in the middle of an upgrade, a time scale left in the environment.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/CUniqueFd.h"
#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"
#include "tests/support/Strict.h"

using kivtest::CliFixture;
using kivtest::CliRun;
using kivtest::Process;
using kivtest::ReadFile;

namespace {

constexpr uid_t NOBODY = 65534;
const std::string SEPARATOR(50, '+');
const std::string CHECK_LINES[] = {"DIAG_HandShake: (0,0)", "Firmware Version: 11.608.10.01.00",
                                   "Dashboard Version: 16.200.10.01.00"};

// What standard error shows once the firmware step is under way.
constexpr const char* FIRMWARE_STEP = "Firmware of wireless module: Backing up the NV";

// Where MakeSharedTmp's copy of the program is seen with /tmp replaced.
const std::string PROGRAM_IN_TMP = "/tmp/bin/kivupgrade-cli";

std::string UnshareProgram() { return kivtest::FindProgram("unshare", "/usr/bin:/bin"); }

class CliSafety : public CliFixture {
protected:
    static std::string OwnDirName() { return "kivupgrade-" + std::to_string(geteuid()); }

    // Starts the simulator and an upgrade of family A, and waits until standard error
    // shows `seen`.
    void StartUpgradeUntil(Process& cli, const std::string& seen)
    {
        ASSERT_TRUE(StartSim({}));
        ASSERT_TRUE(cli.Start(CliArgs("upgrade", Samples("a")), CliEnv()));
        ASSERT_TRUE(cli.ReadUntil([&seen](const std::string&,
                                          const std::string& err) { return err.find(seen) != std::string::npos; },
                                  std::chrono::seconds(120)))
            << cli.Err();
    }

    // The version check's lines are in `log` (by default the run's download log).
    void ExpectCheckLinesLogged(const std::string& log)
    {
        for (const std::string& line : CHECK_LINES)
            EXPECT_NE(log.find(line), std::string::npos) << line << " missing from\n" << log;
    }
    void ExpectCheckLinesLogged() { ExpectCheckLinesLogged(Log()); }
};

// The command line with a /tmp of the test's own (a shared temporary directory, mode 1777,
// made by the test in m_strTmp). A machine that cannot give it one (not root, no unshare)
// skips these tests, or fails them under KIV_TEST_STRICT=1; a command line that is there
// but does not run so is a failure.
class CliSharedTmp : public CliSafety {
protected:
    // argv that runs `argv` in a mount namespace of its own where /tmp is `dir`, after the
    // shell commands `setup` (when given) ran there.
    static std::vector<std::string> WithTmp(const std::string& dir, const std::vector<std::string>& argv,
                                            const std::string& setup = std::string())
    {
        const std::string script = "mount --bind \"$0\" /tmp && " + setup + (setup.empty() ? "" : " && ") +
                                   "exec \"$@\"";
        std::vector<std::string> wrapped = {UnshareProgram(), "--mount", "--propagation", "private", "--",
                                            "/bin/sh",        "-c",      script,          dir};
        wrapped.insert(wrapped.end(), argv.begin(), argv.end());
        return wrapped;
    }

    // A shared temporary directory (mode 1777) with the family A samples and a copy of the
    // program in it, as the CLI in the private namespace sees it under /tmp. The program is
    // run from the copy: a build below /tmp (a checkout there) is hidden once /tmp is replaced.
    std::string MakeSharedTmp()
    {
        const std::string tmp = m_Dir / "tmp";
        std::filesystem::create_directory(tmp);
        chmod(tmp.c_str(), 01777);
        std::filesystem::copy(Samples("a"), tmp + "/samples");
        // Readable by every user, as a shared folder of images would be.
        chmod((tmp + "/samples").c_str(), 0755);
        for (const auto& image : std::filesystem::directory_iterator(tmp + "/samples"))
            chmod(image.path().c_str(), 0644);
        std::filesystem::create_directory(tmp + "/bin");
        std::filesystem::copy_file(kivtest::BuildProgram(kivtest::CLI_PROGRAM), tmp + "/bin/kivupgrade-cli");
        return tmp;
    }

    // kivupgrade-cli `command` with /tmp replaced (the samples in /tmp/samples), by default
    // without TMPDIR, so that the CLI picks its own directory; `env` changes that, `setup` runs
    // first, and `user` (setpriv ...) runs the CLI as another user.
    CliRun RunWithTmp(const std::string& command, const Process::Env& env = {}, const std::string& setup = {},
                      std::vector<std::string> user = {})
    {
        std::vector<std::string> argv = CliArgs(command, "/tmp/samples");
        argv.front() = PROGRAM_IN_TMP;
        user.insert(user.end(), argv.begin(), argv.end());
        Process::Env changes = {{"TMPDIR", ""}};
        for (const auto& [name, value] : env)
            changes[name] = value;
        return RunArgv(WithTmp(m_strTmp, user, setup), changes);
    }

    void SetUp() override
    {
        if (geteuid() != 0)
            KIV_SKIP_OR_FAIL("cannot give the command line a /tmp of the test's own (that needs root)");
        if (UnshareProgram().empty())
            KIV_SKIP_OR_FAIL("cannot give the command line a /tmp of the test's own (unshare is not installed)");
        m_strTmp = MakeSharedTmp();
        Process probe;
        ASSERT_TRUE(probe.Start(WithTmp(m_strTmp, {PROGRAM_IN_TMP, "--version"}))) << probe.Error();
        ASSERT_EQ(probe.Wait(std::chrono::seconds(30)), 0)
            << "kivupgrade-cli does not run with a directory bound on /tmp: " << probe.Err();
    }

    std::string m_strTmp;
};

TEST_F(CliSharedTmp, AnotherUsersLogInTheSharedTmpDoesNotKeepOursFromBeingWritten)
{
    const std::string& tmp = m_strTmp;
    const std::string theirs = tmp + "/KivUpgradeLog.txt";
    std::ofstream(theirs) << "another user's log\r\n";
    ASSERT_EQ(chown(theirs.c_str(), NOBODY, NOBODY), 0);
    ASSERT_TRUE(StartSim({}));

    CliRun run = RunWithTmp("check");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.json["log"], "/tmp/" + OwnDirName() + "/KivUpgradeLog.txt") << run.out;
    EXPECT_TRUE(run.json["logError"].is_null()) << run.out;
    EXPECT_EQ(ReadFile(theirs), "another user's log\r\n");
    struct stat st {};
    ASSERT_EQ(lstat((tmp + "/" + OwnDirName()).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ExpectCheckLinesLogged(kivtest::ReadRequiredFile(tmp + "/" + OwnDirName() + "/KivUpgradeLog.txt"));
}

TEST_F(CliSharedTmp, PlantedLinkAtTheUsersDirectoryIsRefusedAndNothingIsWrittenThroughIt)
{
    const std::string& tmp = m_strTmp;
    const std::string elsewhere = tmp + "/elsewhere";
    std::filesystem::create_directory(elsewhere);
    ASSERT_EQ(symlink(elsewhere.c_str(), (tmp + "/" + OwnDirName()).c_str()), 0);
    ASSERT_TRUE(StartSim({}));

    CliRun run = RunWithTmp("check");
    EXPECT_EQ(run.exitCode, 0) << run.err; // the check itself is fine
    const std::string refusal = "The temporary directory /tmp/" + OwnDirName() +
                                " cannot be used: it is a symbolic link; the download log is not written";
    EXPECT_EQ(run.json["logError"], refusal) << run.out;
    EXPECT_NE(run.err.find("The download log cannot be written: " + refusal), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    EXPECT_FALSE(std::filesystem::exists(tmp + "/KivUpgradeLog.txt"));
}

TEST_F(CliSafety, FifoInPlaceOfTheLogNeitherHangsTheRunNorIsWritten)
{
    const std::string fifo = m_Dir / "KivUpgradeLog.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(StartSim({}));
    // Nobody reads the FIFO: a blocking open would hang the final flush for good.
    CliRun run = RunCli("check", Samples("a"), {}, std::chrono::seconds(60));
    ASSERT_EQ(run.exitCode, 0) << "the run hung or failed\n" << run.err;
    EXPECT_EQ(run.json["logError"], fifo + " is not a regular file") << run.out;
    EXPECT_NE(run.err.find("The download log cannot be written: " + fifo + " is not a regular file"), std::string::npos)
        << run.err;

    // Someone reads it: still nothing is written into it.
    CUniqueFd reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader.Valid());
    run = RunCli("check", Samples("a"), {}, std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    char byte = 0;
    EXPECT_LE(read(reader.Get(), &byte, 1), 0) << "the log went into the FIFO";
}

// A stop signal during the upgrade is refused: Ctrl-C (SIGINT, while the router images go out
// and in the firmware step), SIGTERM (a service manager, kill), a terminal or SSH session
// closed (SIGHUP) or SIGQUIT (these three in the firmware step), or any other signal whose
// default would end the program (SIGUSR1 and SIGALRM, say). The run goes on to its end: the
// module is let out of its downloader and the log holds the run to its last line.
struct StopSignal {
    int sig;
    const char* seen; // sent once standard error shows this
};

void PrintTo(const StopSignal& stop, std::ostream* out) { *out << "SIG" << sigabbrev_np(stop.sig); }

class CliStopSignal : public CliSafety, public ::testing::WithParamInterface<StopSignal> {};

constexpr const char* UPGRADING = "Upgrading...";

TEST_P(CliStopSignal, DuringTheUpgradeIsRefusedAndTheRunGoesOnToItsEnd)
{
    Process cli;
    ASSERT_NO_FATAL_FAILURE(StartUpgradeUntil(cli, GetParam().seen));
    cli.Signal(GetParam().sig);
    CliRun run = Finish(cli, std::chrono::seconds(300));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("The upgrade is in process. Please wait!"), std::string::npos) << run.err;
    EXPECT_EQ(run.Cell("Dashboard", "status").rfind("Download successfully (", 0), 0u) << run.out;
    ExpectCheckLinesLogged();
    const std::string log = Log();
    EXPECT_NE(log.find("Leave Forcing Download Mode ..."), std::string::npos) << log;
    EXPECT_NE(log.find(SEPARATOR + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(kivtest::CountOf(Transcript(), "\"name\":\"leave-force-load\""), 2); // the record and its answer
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopSignal,
                         ::testing::Values(StopSignal{SIGINT, UPGRADING}, StopSignal{SIGINT, FIRMWARE_STEP},
                                           StopSignal{SIGTERM, FIRMWARE_STEP}, StopSignal{SIGHUP, FIRMWARE_STEP},
                                           StopSignal{SIGQUIT, FIRMWARE_STEP}, StopSignal{SIGUSR1, FIRMWARE_STEP},
                                           StopSignal{SIGALRM, FIRMWARE_STEP}),
                         [](const ::testing::TestParamInfo<StopSignal>& info) {
                             // Ctrl-C comes twice: its second case is named after its step.
                             const bool second = info.param.sig == SIGINT && info.param.seen == FIRMWARE_STEP;
                             return std::string("SIG") + sigabbrev_np(info.param.sig) +
                                    (second ? "_InTheFirmwareStep" : "");
                         });

// A router's version text holding a bidirectional override (U+202E), which would show the
// table's columns in another order: the table and the log get it as U+FFFD.
TEST_F(CliSafety, LayoutControlsInARoutersTextNeverReachTheTable)
{
    const std::string override = "\xE2\x80\xAE";
    ASSERT_TRUE(StartSim({"--app-version", "2.1.5.0" + override + "1.7.1.2"}));
    CliRun run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.Cell("APP", "currentVersion"),
              "2.1.5.0\xEF\xBF\xBD"
              "1.7.1.2")
        << run.out;
    EXPECT_EQ(run.out.find(override), std::string::npos) << run.out;
    EXPECT_EQ(Log().find(override), std::string::npos);
}

// Killed in the middle of the firmware download (the power cut of a laptop, kill -9): the
// log holds every line up to then, and the next run finds the module held in its downloader
// and brings it back with a whole download.
TEST_F(CliSafety, KilledDuringTheFirmwareDownloadTheLogIsKeptAndTheNextRunRecoversTheModule)
{
    Process cli;
    ASSERT_NO_FATAL_FAILURE(
        StartUpgradeUntil(cli, "Firmware of wireless module: Downloading the firmware of the wireless module"));
    cli.Signal(SIGKILL);
    EXPECT_EQ(cli.Wait(std::chrono::seconds(30)), 128 + SIGKILL);
    ExpectCheckLinesLogged();
    const std::string log = Log();
    EXPECT_NE(log.find(" Transmitting the upgrade data of the router module\r\n"), std::string::npos) << log;
    // The row shows a status before its log line is written: the last line seen on standard
    // error may be just too late for the file, the steps before it are not.
    EXPECT_NE(log.find(" Erasing the NVRAM of the router module\r\n"), std::string::npos) << log;

    CliRun again = RunCli("upgrade", Samples("a"));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    // Its check found the module in force-load mode (the row then shows what it read back).
    EXPECT_EQ(again.Cell("Firmware", "versionProblem"), "the wireless module is in force-load mode") << again.out;
    for (const char* type : {"Firmware", "Dashboard"})
        EXPECT_EQ(again.Cell(type, "status").rfind("Download successfully (", 0), 0u) << type << ": " << again.out;
    const CliRun check = RunCli("check", Samples("a"));
    EXPECT_EQ(check.Cell("Firmware", "currentVersion"), "11.608.13.02.00") << check.out;
    EXPECT_EQ(check.Cell("Dashboard", "currentVersion"), "16.200.11.01.00") << check.out;
}

// Standard output closed, or a pipe whose reader has gone ("kivupgrade-cli upgrade | head
// -1"): the upgrade still goes to its end, the log is whole, and nothing meant for standard
// output lands anywhere else.
TEST_F(CliSafety, UpgradeWithStandardOutputClosedOrBrokenEndsNormally)
{
    const std::string bash = kivtest::FindProgram("bash", "/bin:/usr/bin");
    const struct {
        const char* name;
        const char* script;
    } cases[] = {
        {"closed", "exec \"$@\" >&-"},
        {"broken pipe", "\"$@\" | true; exit ${PIPESTATUS[0]}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_Dir / "KivUpgradeLog.txt");
        ASSERT_TRUE(StartSim({}));
        std::vector<std::string> argv = {bash, "-c", c.script, "bash"};
        const std::vector<std::string> cli = CliArgs("upgrade", Samples("a"), false);
        argv.insert(argv.end(), cli.begin(), cli.end());
        Process run;
        ASSERT_TRUE(run.Start(argv, CliEnv())) << run.Error();
        EXPECT_EQ(run.Wait(std::chrono::seconds(300)), 0) << run.Err();
        const std::string log = Log();
        EXPECT_EQ(log.substr(log.size() - SEPARATOR.size() - 2), SEPARATOR + "\r\n") << log;
        EXPECT_EQ(log.find("Result: "), std::string::npos) << log;
        StopSim();
        EXPECT_EQ(kivtest::CountOf(Transcript(), "\"event\":\"image complete\""), 2);
    }
}

// An ordinary user on the shared /tmp, where root's files lie: without TMPDIR the log goes
// to a directory of the user's own (mode 0700); with TMPDIR=/tmp, root's log there is not
// written (EACCES for mode 0644; for 0666 the sticky directory's protected_regular refuses
// it, or, where that is off, the check that the file is the user's own), and the check
// itself goes on.
TEST_F(CliSharedTmp, OrdinaryUserBesideRootsFiles)
{
    const std::string setpriv = kivtest::FindProgram("setpriv", "/usr/bin:/bin");
    if (setpriv.empty())
        KIV_SKIP_OR_FAIL("setpriv (util-linux) is not installed");
    const std::vector<std::string> nobody = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    ASSERT_TRUE(StartSim({}));

    CliRun run = RunWithTmp("check", {}, {}, nobody);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.json["log"], "/tmp/kivupgrade-65534/KivUpgradeLog.txt") << run.out;
    EXPECT_TRUE(run.json["logError"].is_null()) << run.out;
    struct stat st {};
    ASSERT_EQ(lstat((m_strTmp + "/kivupgrade-65534").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, NOBODY);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ExpectCheckLinesLogged(kivtest::ReadRequiredFile(m_strTmp + "/kivupgrade-65534/KivUpgradeLog.txt"));

    const std::string roots = m_strTmp + "/KivUpgradeLog.txt";
    const bool protectedRegular = ReadFile("/proc/sys/fs/protected_regular").rfind('0', 0) != 0;
    for (const mode_t mode : {0644, 0666}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(kivtest::WriteFile(roots, "root's log\r\n"));
        ASSERT_EQ(chmod(roots.c_str(), mode), 0);
        run = RunWithTmp("check", {{"TMPDIR", "/tmp"}}, {}, nobody);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const bool denied = mode == 0644 || protectedRegular;
        EXPECT_EQ(run.json["logError"], denied ? "/tmp/KivUpgradeLog.txt: Permission denied"
                                               : "/tmp/KivUpgradeLog.txt belongs to another user")
            << run.out;
        EXPECT_EQ(ReadFile(roots), "root's log\r\n");
    }
}

// The log's disk is full: the upgrade goes on to its end, and the run says that the log
// could not be written, and why.
TEST_F(CliSharedTmp, FullDiskForTheLogDoesNotStopTheUpgrade)
{
    ASSERT_TRUE(StartSim({}));
    // A file system of one page, taken: a new file can be made, not one byte written to it.
    const std::string fill =
        "mkdir -p /tmp/small && mount -t tmpfs -o size=4k tmpfs /tmp/small && "
        "head -c 4096 /dev/zero >/tmp/small/taken";
    CliRun run = RunWithTmp("upgrade", {{"TMPDIR", "/tmp/small"}}, fill);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* type : {"BOOT", "APP", "Customization", "Firmware", "Dashboard"})
        EXPECT_EQ(run.Cell(type, "status").rfind("Download successfully (", 0), 0u) << type << ": " << run.out;
    const std::string why = "writing /tmp/small/KivUpgradeLog.txt failed: No space left on device";
    EXPECT_EQ(run.json["logError"], why) << run.out;
    EXPECT_NE(run.err.find("The download log cannot be written: " + why), std::string::npos) << run.err;
}

TEST_F(CliSafety, TimeScaleInForceIsAnnouncedOnStandardErrorAndInTheLog)
{
    ASSERT_TRUE(StartSim({}));
    // KIV_TIME_SCALE from the environment, toward the simulator on loopback: allowed.
    CliRun run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    char notice[160];
    std::snprintf(notice, sizeof notice, "Time scale %g in force: every pause and time-out lasts %g times as long",
                  std::atof(Scale().c_str()), std::atof(Scale().c_str()));
    EXPECT_EQ(run.err.rfind(std::string(notice) + "\n", 0), 0u) << "the first line of\n" << run.err;
    EXPECT_NE(Log().find(std::string(" ") + notice + "\r\n"), std::string::npos) << Log();
}

} // namespace
