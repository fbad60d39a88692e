// Version resource, title, window placement, help file and the single-instance guard.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFile>
#include <QLocalServer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "app/CModuleVersion.h"
#include "app/VersionInfoWriter.h"
#include "gui/CHelpFile.h"
#include "gui/CMainWindow.h"
#include "gui/CSingleInstanceGuard.h"
#include "gui/WindowPlacement.h"
#include "tests/support/Files.h"
#include "tests/support/LogText.h"
#include "tests/support/Process.h"
#include "tests/support/Strict.h"
#include "tests/support/VersionBlock.h"

namespace {
class ServicesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
};

QByteArray StoredPlacement()
{
    QSettings settings(QStringLiteral("Varoni"), QCoreApplication::applicationName());
    return settings.value(QStringLiteral("Settings/Window Position")).toByteArray();
}

void StorePlacement(const QByteArray& bytes)
{
    QSettings settings(QStringLiteral("Varoni"), QCoreApplication::applicationName());
    settings.setValue(QStringLiteral("Settings/Window Position"), bytes);
    settings.sync();
}
using kivtest::ReadFile;

} // namespace

// The version block itself is read in tests/app/ModuleVersionTest.cpp; here, the title made
// from it.
TEST_F(ServicesTest, TitleShowsTheProductVersionOfTheTranslatedTable)
{
    CModuleVersion version;
    const auto with = BuildVersionInfo(kivtest::SampleVersionInfo(true));
    ASSERT_TRUE(version.LoadVersionData(with.data(), with.size()));
    EXPECT_EQ(CMainWindow::ComposeTitle("Q350m Upgrade", &version), "Q350m Upgrade - 2.5.1 - Press F1 for Help");

    // Without a translation block the lookup finds nothing: the title keeps its separators.
    const auto without = BuildVersionInfo(kivtest::SampleVersionInfo(false));
    ASSERT_TRUE(version.LoadVersionData(without.data(), without.size()));
    EXPECT_EQ(CMainWindow::ComposeTitle("Q350m Upgrade", &version), "Q350m Upgrade -  - Press F1 for Help");

    EXPECT_EQ(CMainWindow::ComposeTitle("", nullptr), " - Press F1 for Help");
    const std::string title = CMainWindow::BuildTitle();
    EXPECT_EQ(title, std::string("Q350m Upgrade - ") + KIV_PROJECT_VERSION + " - Press F1 for Help");
}

TEST_F(ServicesTest, PlacementSavedAndRestored)
{
    QDialog window;
    window.setGeometry(120, 130, 640, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(SaveRestoreWindowPlacement(&window, true));
    WindowPlacementRecord record;
    ASSERT_TRUE(DecodePlacement(StoredPlacement(), record));
    EXPECT_EQ(StoredPlacement().size(), 44);
    EXPECT_EQ(record.length, 44u);
    EXPECT_EQ(record.showCmd, 1u);
    EXPECT_EQ(NormalRect(record), QRect(120, 130, 640, 300));

    // A minimised window is saved as normal; a maximised one as maximised.
    window.showMinimized();
    ASSERT_TRUE(SaveRestoreWindowPlacement(&window, true));
    ASSERT_TRUE(DecodePlacement(StoredPlacement(), record));
    EXPECT_EQ(record.showCmd, 1u);
    window.showMaximized();
    ASSERT_TRUE(SaveRestoreWindowPlacement(&window, true));
    ASSERT_TRUE(DecodePlacement(StoredPlacement(), record));
    EXPECT_EQ(record.showCmd, 3u);

    QDialog other;
    ASSERT_TRUE(SaveRestoreWindowPlacement(&other, false));
    EXPECT_TRUE(other.windowState() & Qt::WindowMaximized);

    record.showCmd = 1;
    SetNormalRect(record, QRect(50, 60, 500, 250));
    StorePlacement(EncodePlacement(record));
    QDialog third;
    ASSERT_TRUE(SaveRestoreWindowPlacement(&third, false));
    EXPECT_EQ(third.geometry(), QRect(50, 60, 500, 250));
    EXPECT_FALSE(third.windowState() & Qt::WindowMaximized);

    // Values of another size are ignored, and the window keeps its place.
    for (int size : {40, 48, 0}) {
        StorePlacement(EncodePlacement(record).left(40).leftJustified(size, '\0', true));
        QDialog fresh;
        fresh.setGeometry(10, 20, 450, 200);
        EXPECT_FALSE(SaveRestoreWindowPlacement(&fresh, false)) << size;
        EXPECT_EQ(fresh.geometry(), QRect(10, 20, 450, 200));
    }
    EXPECT_FALSE(SaveRestoreWindowPlacement(nullptr, true));
}

TEST_F(ServicesTest, HelpFileWrittenOnceThenReused)
{
    const std::string dir = TestDirectory().toStdString() + "/help/";
    ::mkdir(dir.c_str(), 0700);
    const std::string path = dir + "KivUpgradeHelp.chm";
    const std::string first = "ITSF first copy";
    const std::string second = "ITSF second copy, longer";

    EXPECT_EQ(CHelpFile::Prepare(dir, nullptr, 0), ""); // no help and no file: warning 136
    EXPECT_EQ(CHelpFile::Prepare(dir, reinterpret_cast<const uint8_t*>(first.data()), first.size()), path);
    EXPECT_EQ(ReadFile(path), first);
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Present: used unchanged, even though the program's copy differs.
    EXPECT_EQ(CHelpFile::Prepare(dir, reinterpret_cast<const uint8_t*>(second.data()), second.size()), path);
    EXPECT_EQ(ReadFile(path), first);
    // Deleted: written again.
    ::unlink(path.c_str());
    EXPECT_EQ(CHelpFile::Prepare(dir, reinterpret_cast<const uint8_t*>(second.data()), second.size()), path);
    EXPECT_EQ(ReadFile(path), second);
    // A link in its place is neither followed nor used.
    ::unlink(path.c_str());
    const std::string target = dir + "elsewhere";
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    EXPECT_EQ(CHelpFile::Prepare(dir, reinterpret_cast<const uint8_t*>(first.data()), first.size()), "");
    EXPECT_NE(::access(target.c_str(), F_OK), 0);
    ::unlink(path.c_str());

    // The build embeds the compiled guide when chmcmd (package fp-utils) is available.
    const std::string embedded = CHelpFile::PrepareEmbedded();
    if (embedded.empty())
        KIV_SKIP_OR_FAIL("the build embedded no compiled help: chmcmd (package fp-utils) was missing");
    EXPECT_EQ(ReadFile(embedded).substr(0, 4), "ITSF");
}

TEST_F(ServicesTest, SecondGuardAsksTheFirstToRestoreItsWindow)
{
    const QString dir = TestDirectory() + "/guard";
    QDir().mkpath(dir);
    CSingleInstanceGuard first(dir);
    ASSERT_EQ(first.Acquire(), CSingleInstanceGuard::Result::Acquired);
    CSingleInstanceGuard second(dir);
    EXPECT_EQ(second.Acquire(), CSingleInstanceGuard::Result::AlreadyRunning);

    CMainWindow window(nullptr);
    QObject::connect(&first, &CSingleInstanceGuard::RestoreRequested, &window, &CMainWindow::RestoreIfMinimized);
    window.show();
    window.showMinimized();
    ASSERT_TRUE(WaitUntil([&] { return window.isMinimized(); }));
    QSignalSpy spy(&first, &CSingleInstanceGuard::RestoreRequested);
    EXPECT_TRUE(second.NotifyRunningInstance());
    ASSERT_TRUE(WaitUntil([&] { return spy.count() == 1; }));
    EXPECT_FALSE(window.isMinimized());

    // Released (the first copy ended): the next copy starts normally.
    first.Release();
    CSingleInstanceGuard third(dir);
    EXPECT_EQ(third.Acquire(), CSingleInstanceGuard::Result::Acquired);
}

TEST_F(ServicesTest, SecondProgramExitsSilentlyWhileTheFirstRuns)
{
    const std::string program = kivtest::BuildProgram(kivtest::APP_PROGRAM);
    KIV_REQUIRE_PROGRAM(program);
    const QString run = TestDirectory() + "/two-copies";
    QDir().mkpath(run);
    ::chmod(run.toLocal8Bit().constData(), 0700);
    const kivtest::Process::Env env = {{"XDG_RUNTIME_DIR", run.toStdString()}, {"QT_QPA_PLATFORM", "offscreen"}};
    kivtest::Process first;
    ASSERT_TRUE(first.Start({program}, env)) << first.Error();
    // The socket appears once the first copy holds the lock.
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(run + "/KIV_UPGRADE_DLG"); }, 20000)) << first.Err();

    kivtest::Process second;
    ASSERT_TRUE(second.Start({program}, env)) << second.Error();
    EXPECT_EQ(second.Wait(std::chrono::seconds(20)), 0) << second.Err(); // a normal exit with status 0
    EXPECT_EQ(second.Out(), "");
    EXPECT_TRUE(first.Alive());
    first.Stop(SIGKILL);
}

// The program's command line is the command line's, checked before any window: an unknown
// option or a bad value is a usage error (status 2); without a display it says so in one
// line and ends with status 1 (not Qt's abort).
TEST_F(ServicesTest, ProgramRefusesBadOptionsAndAMissingDisplayInOneLine)
{
    const std::string program = kivtest::BuildProgram(kivtest::APP_PROGRAM);
    KIV_REQUIRE_PROGRAM(program);
    const kivtest::Process::Env noDisplay = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    const kivtest::Process::Env deadDisplay = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", ""}};
    const struct {
        std::vector<std::string> args;
        kivtest::Process::Env env;
        int status;
        const char* says;
    } CASES[] = {
        {{"--bogus"}, {}, 2, "kivupgrade: unknown option --bogus\n"},
        {{"--router-port", "0"}, {}, 2, "kivupgrade: --router-port: not a port number (1 to 65535): 0\n"},
        {{}, noDisplay, 1, "kivupgrade: no display to open the window on"},
        {{}, deadDisplay, 1, "kivupgrade: the window cannot be opened: "},
    };
    for (const auto& c : CASES) {
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), program);
        const kivtest::RunResult run = kivtest::RunProgram(argv, c.env);
        EXPECT_EQ(run.status, c.status) << c.says << run.err;
        EXPECT_EQ(run.err.rfind(c.says, 0), 0u) << run.err;
        if (c.status == 1) {
            EXPECT_EQ(kivtest::CountOf(run.err, "\n"), 1) << run.err;
        }
        EXPECT_EQ(run.out, "");
    }
}

// SIGTERM (log-out, kill) closes the idle window through the stop path: a log line, the
// window's own end, status 0.
TEST_F(ServicesTest, StopSignalClosesTheIdleWindowThroughTheStopPath)
{
    const std::string program = kivtest::BuildProgram(kivtest::APP_PROGRAM);
    KIV_REQUIRE_PROGRAM(program);
    const QString run = TestDirectory() + "/stop-signal";
    QDir().mkpath(run);
    ::chmod(run.toLocal8Bit().constData(), 0700);
    const kivtest::Process::Env env = {{"XDG_RUNTIME_DIR", run.toStdString()},
                                       {"TMPDIR", run.toStdString()},
                                       {"QT_QPA_PLATFORM", "offscreen"}};
    kivtest::Process window;
    ASSERT_TRUE(window.Start({program}, env)) << window.Error();
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(run + "/KIV_UPGRADE_DLG"); }, 20000)) << window.Err();
    EXPECT_EQ(window.Stop(SIGTERM), 0) << window.Err();
    EXPECT_EQ(kivtest::CountLogMessages(ReadFile((run + "/KivUpgradeLog.txt").toStdString()),
                                        "SIGTERM received: the program ends"),
              1);
}
