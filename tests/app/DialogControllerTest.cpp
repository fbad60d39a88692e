#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "app/CKivOneClickDlg.h"
#include "engine/CRouterSession.h"
#include "engine/ComponentEntry.h"
#include "images/CSampleImage.h"
#include "platform/Clock.h"
#include "platform/Utf8Path.h"
#include "tests/app/FakeView.h"
#include "tests/support/Files.h"
#include "tests/support/SampleSet.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/SilentPort.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpPeer.h"

namespace fs = std::filesystem;
using kivtest::SampleSet;
using kivtest::TempDir;

namespace {

class DialogTest : public ::testing::Test {
protected:
    // A controller on the test's own table, looking for images in `imageDir` and for the
    // router on 127.0.0.1 at a port where nothing answers.
    void MakeDialog(const std::string& imageDir)
    {
        m_pDlg = std::make_unique<CKivOneClickDlg>(&m_View, m_Table);
        m_View.Attach(m_pDlg.get());
        RouterOverrides overrides;
        overrides.targets = {{127, 0, 0, 1}};
        overrides.routerPort = m_nPort;
        overrides.telnetPort = m_nPort;
        m_pDlg->SetRouterOverrides(overrides);
        m_pDlg->SetImageDirectory(imageDir);
        m_pDlg->SetLoopTestPath(m_Dir / "LoopTest.ini");
        m_pDlg->OnInitDialog();
    }

    // What this test's controllers logged: their lines go to the log file in the test's own
    // temporary directory as they are written.
    std::string LoggedText()
    {
        const CDownloadLog& log = m_pDlg->GetSession().Log();
        return kivtest::ReadRequiredFile(log.GetPath()) + log.GetPending();
    }

    // The sample images of both families (DIR/a, DIR/b).
    static std::string Samples()
    {
        EXPECT_TRUE(SampleSet::Shared().Ok()) << SampleSet::Shared().Error();
        return SampleSet::Shared().Dir();
    }

    TempDir m_Dir;
    // The download log of the test's own, which no other test program appends to, in a folder
    // whose name has spaces and letters outside ASCII.
    TempDir m_LogDir{"kiv log Ünï ✓"};
    kivtest::ScopedEnv m_TempDirectory{kivtest::TEMP_DIRECTORY_VARIABLE, m_LogDir.Path()};
    kivtest::SilentPort m_NoRouter; // nothing answers there
    const uint16_t m_nPort = m_NoRouter.Port();
    ComponentEntry m_Table[COMPONENT_COUNT];
    FakeView m_View;
    std::unique_ptr<CKivOneClickDlg> m_pDlg; // destroyed first
};

TEST_F(DialogTest, NotificationCodesDriveTheButtons)
{
    MakeDialog(m_Dir.Path());
    EXPECT_EQ(m_pDlg->OnWorkerNotify(NOTIFY_DISABLE_BUTTONS), 0);
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));

    m_View.EnableButton(IKivView::IDC_CHECK, true);
    EXPECT_EQ(m_pDlg->OnWorkerNotify(6), 0);
    EXPECT_EQ(m_pDlg->OnWorkerNotify(12345), 0);
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_EQ(m_View.Focus(), 0);

    m_pDlg->OnWorkerNotify(NOTIFY_FOCUS_UPGRADE);
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_UPGRADE);
    m_pDlg->OnWorkerNotify(NOTIFY_FOCUS_CHECK);
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_CHECK);
    EXPECT_TRUE(m_View.Warnings().empty());
    EXPECT_FALSE(m_pDlg->IsLoopTest());
}

TEST_F(DialogTest, CheckWithoutImagesFailsAndFocusesCheck)
{
    MakeDialog(m_Dir.Path());
    m_View.HoldWarnings(true); // the worker waits in the warning box, as with a user
    m_pDlg->OnCheck();
    ASSERT_TRUE(m_View.WaitForWarnings(1));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_CHECK)); // disabled while the check runs
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_TRUE(m_pDlg->IsCheckRunning());
    m_pDlg->OnCheck(); // ignored: one worker at a time
    m_pDlg->OnUpgrade();
    EXPECT_FALSE(m_pDlg->IsUpgradeRunning());
    m_View.HoldWarnings(false);
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_FOCUS_CHECK));

    EXPECT_EQ(m_View.Warnings(), std::vector<std::string>{"No valid .bin file is found in the current directory"});
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_CHECK);
    EXPECT_EQ(m_View.m_List.GetItemCount(), 0);
    EXPECT_FALSE(m_pDlg->LastCheckPassed());
    EXPECT_NE(LoggedText().find("没有找到至少一个有效的BIN文件"), std::string::npos);
    EXPECT_EQ(m_View.Posted(), std::vector<int>{NOTIFY_FOCUS_CHECK});
}

TEST_F(DialogTest, FindImageFilesDuplicateUnknownAndNone)
{
    const std::string samples = Samples();
    auto copy = [&](const std::string& image, const std::string& to) {
        fs::copy_file(PathFromUtf8(samples + "/a/" + image), PathFromUtf8(to));
    };
    // A folder name with spaces and letters outside ASCII, found, listed and logged as it is.
    const std::string mixed = m_Dir / "mixed Ünï ✓";
    fs::create_directories(m_Dir / "dup");
    fs::create_directories(PathFromUtf8(mixed));
    fs::create_directories(m_Dir / "junk");
    copy("app.bin", m_Dir / "dup/a1.bin");
    copy("app.bin", m_Dir / "dup/a2.bin");
    copy("boot.bin", m_Dir / "dup/0boot.bin");
    for (const std::string& dir : {mixed, m_Dir / "junk"}) {
        std::ofstream junk(PathFromUtf8(dir + "/junk.bin"), std::ios::binary);
        junk << std::string(300, '\x5a');
    }
    copy("boot.bin", mixed + "/boot.bin");
    copy("firmware.bin", mixed + "/firmware.BIN");
    copy("app.bin", mixed + "/app.txt");

    MakeDialog(m_Dir / "dup");
    EXPECT_FALSE(m_pDlg->FindImageFiles());
    EXPECT_EQ(m_View.Warnings(), std::vector<std::string>{"Two or more .bin files with the same type exist"});
    EXPECT_TRUE(m_Table[COMPONENT_BOOT].m_Image.IsValid());
    EXPECT_EQ(fs::path(m_Table[COMPONENT_APP].m_Image.GetPath()).filename(), "a1.bin"); // the first stays

    MakeDialog(mixed);
    EXPECT_TRUE(m_pDlg->FindImageFiles());
    EXPECT_TRUE(m_Table[COMPONENT_BOOT].m_Image.IsValid());
    EXPECT_TRUE(m_Table[COMPONENT_FIRMWARE].m_Image.IsValid());
    EXPECT_FALSE(m_Table[COMPONENT_APP].m_Image.IsValid()); // a second search starts afresh
    EXPECT_EQ(m_View.Warnings().size(), 1u);                // the unknown file raises no box...
    // ... it is named once, however often the search runs.
    EXPECT_TRUE(m_pDlg->FindImageFiles());
    ASSERT_EQ(m_View.Notices().size(), 1u);
    const std::string junk = kivtest::NativePath(mixed + "/junk.bin");
    EXPECT_EQ(m_View.Notices()[0].rfind("This file is not an upgrade image and is not used: " + junk, 0), 0u);
    EXPECT_EQ(kivtest::CountOf(LoggedText(), junk), 1);

    // A damaged image takes its component's entry as a problem: it counts as found (no
    // "No valid .bin file"), and a second file of that type is one too many.
    fs::create_directories(m_Dir / "damaged");
    copy("app.bin", m_Dir / "damaged/app.bin");
    ASSERT_TRUE(kivtest::FlipByte(m_Dir / "damaged/app.bin", 400));
    MakeDialog(m_Dir / "damaged");
    EXPECT_TRUE(m_pDlg->FindImageFiles());
    EXPECT_FALSE(m_Table[COMPONENT_APP].m_Image.IsValid());
    EXPECT_EQ(m_Table[COMPONENT_APP].m_ImageProblem, "part 0 block 0: checksum mismatch");
    copy("app.bin", m_Dir / "damaged/app2.bin");
    EXPECT_FALSE(m_pDlg->FindImageFiles());
    EXPECT_EQ(m_View.Warnings().back(), "Two or more .bin files with the same type exist");

    MakeDialog(m_Dir / "junk");
    EXPECT_FALSE(m_pDlg->FindImageFiles());
    EXPECT_EQ(m_View.Warnings().back(), "No valid .bin file is found in the current directory");
    for (const ComponentEntry& entry : m_Table)
        EXPECT_FALSE(entry.m_Image.IsValid());
}

// Which of the two peers each datagram reached (1 for 127.0.0.1, 2 for 127.0.0.2), in the
// order they arrived.
std::vector<int> ArrivalOrder(kivtest::UdpPeer& first, kivtest::UdpPeer& second)
{
    std::vector<std::pair<std::chrono::steady_clock::time_point, int>> arrivals;
    for (const auto& d : first.Arrivals())
        arrivals.emplace_back(d.at, 1);
    for (const auto& d : second.Arrivals())
        arrivals.emplace_back(d.at, 2);
    std::sort(arrivals.begin(), arrivals.end());
    std::vector<int> order;
    for (const auto& a : arrivals)
        order.push_back(a.second);
    return order;
}

TEST_F(DialogTest, SilentLanGivesSixDiscoveryTriesInTargetOrder)
{
    // Two peers on one port number, at 127.0.0.1 and 127.0.0.2: neither answers.
    kivtest::UdpPeer first(1);
    kivtest::UdpPeer second(2, first.Port());
    ASSERT_TRUE(first.Valid() && second.Valid());
    const uint16_t port = first.Port();
    MakeDialog(Samples() + "/a");
    RouterOverrides overrides;
    overrides.targets = {{127, 0, 0, 1}, {127, 0, 0, 2}};
    overrides.routerPort = port;
    m_pDlg->SetRouterOverrides(overrides);

    m_pDlg->OnCheck();
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_FOCUS_CHECK));
    EXPECT_EQ(ArrivalOrder(first, second), (std::vector<int>{1, 1, 1, 2, 2, 2}));
    // The warning's text, then the advice below it; the log gets both.
    ASSERT_EQ(m_View.Warnings().size(), 1u);
    const std::string warning = m_View.Warnings().front();
    EXPECT_EQ(warning.rfind("No router is detected\n\n", 0), 0u) << warning;
    EXPECT_NE(warning.find("lo is on the subnet of 127.0.0.2 (127.0.0.0/8)."), std::string::npos) << warning;
    EXPECT_NE(LoggedText().find("没有检测到路由器"), std::string::npos);
    EXPECT_NE(LoggedText().find("lo is on the subnet of 127.0.0.1 (127.0.0.0/8)."), std::string::npos);
    EXPECT_EQ(m_View.m_List.GetItemCount(), 0);
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_CHECK);
}

TEST_F(DialogTest, CloseAsksWhenIdleAndIsRefusedDuringAnUpgrade)
{
    MakeDialog(m_Dir.Path());
    m_View.SetAnswer(false);
    EXPECT_FALSE(m_pDlg->OnCancel());
    EXPECT_EQ(m_View.Questions(), std::vector<std::string>{"Are you sure?"});
    EXPECT_EQ(m_View.EndResult(), -1);

    // An upgrade to a router that cannot be reached: refused while it runs, and the run
    // that changed no row still tells the user why.
    m_pDlg->OnUpgrade();
    EXPECT_TRUE(m_pDlg->IsUpgradeRunning());
    m_View.SetAnswer(true);
    EXPECT_FALSE(m_pDlg->OnCancel());
    EXPECT_EQ(m_View.Warnings(), std::vector<std::string>{"The upgrade is in process. Please wait!"});
    EXPECT_EQ(m_View.Questions().size(), 1u);
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_UPGRADE_DONE));
    EXPECT_FALSE(m_pDlg->IsUpgradeRunning());
    EXPECT_TRUE(m_View.Enabled(IKivView::IDC_CHECK));
    EXPECT_FALSE(m_View.Enabled(IKivView::IDC_UPGRADE));
    EXPECT_EQ(m_View.Focus(), IKivView::IDC_CHECK);
    EXPECT_TRUE(m_pDlg->LastUpgradeFailedSilently());
    EXPECT_EQ(m_View.Warnings().back(), "Creating the TCP connection failed. Nothing had been written.");

    EXPECT_TRUE(m_pDlg->OnCancel());
    EXPECT_EQ(m_View.EndResult(), IKivView::ID_CANCEL);
}

// A stop signal ends the dialog without asking: at once when idle, only after the upgrade
// when one runs (the engine's closing steps and last log lines come first).
TEST_F(DialogTest, StopSignalEndsTheDialogAfterTheUpgrade)
{
    MakeDialog(m_Dir.Path());
    m_pDlg->OnStopSignal("SIGHUP");
    EXPECT_EQ(m_View.EndResult(), IKivView::ID_CANCEL);
    EXPECT_NE(LoggedText().find("SIGHUP received: the program ends"), std::string::npos);

    m_View.ForgetEnd();
    MakeDialog(m_Dir.Path());
    m_pDlg->OnUpgrade(); // toward a router that cannot be reached
    m_pDlg->OnStopSignal("SIGTERM");
    EXPECT_EQ(m_View.EndResult(), -1);
    ASSERT_TRUE(m_View.Pump([&] { return m_View.EndResult() != -1; }));
    EXPECT_EQ(m_View.EndResult(), IKivView::ID_CANCEL);
    EXPECT_FALSE(m_pDlg->IsWorkerRunning());
    EXPECT_TRUE(m_View.Questions().empty());
    EXPECT_TRUE(m_View.Warnings().empty()) << "nobody is left to read a box";
    const std::string log = LoggedText();
    const size_t signal = log.find("SIGTERM received: the upgrade goes on to its end, then the program ends");
    EXPECT_NE(signal, std::string::npos) << log;
    // The run toward a refused port may write its last line before the signal is taken; that
    // it was taken while the dialog still counted the upgrade as running is the line above.
    EXPECT_NE(log.find(std::string(50, '+')), std::string::npos) << "the run's last line\n" << log;
}

TEST_F(DialogTest, CloseDuringACheckEndsWhenTheCheckEnds)
{
    MakeDialog(Samples() + "/a"); // nobody answers
    m_View.HoldWarnings(true);    // the check waits in its "No router" box
    m_pDlg->OnCheck();
    m_View.SetAnswer(true);
    EXPECT_TRUE(m_pDlg->OnCancel());
    EXPECT_EQ(m_View.EndResult(), -1); // not yet: the check still runs
    m_View.HoldWarnings(false);
    ASSERT_TRUE(m_View.Pump([&] { return m_View.EndResult() != -1; }));
    EXPECT_EQ(m_View.EndResult(), IKivView::ID_CANCEL);
    EXPECT_FALSE(m_pDlg->IsWorkerRunning());
    ASSERT_EQ(m_View.Warnings().size(), 1u);
    EXPECT_EQ(m_View.Warnings().front().rfind("No router is detected\n", 0), 0u);
}

TEST_F(DialogTest, LoopTimerStartsTheUpgradeAndStopsAtDestruction)
{
    {
        std::ofstream(m_Dir / "LoopTest.ini") << "";
    }
    MakeDialog(m_Dir.Path());
    ASSERT_TRUE(m_pDlg->IsLoopTest());

    uint32_t start = GetTickCount();
    m_pDlg->OnWorkerNotify(NOTIFY_FOCUS_UPGRADE); // as after a successful check
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_START_UPGRADE));
    EXPECT_GE(TicksSince(start), 1900u);
    ASSERT_TRUE(m_View.WaitPosted(NOTIFY_UPGRADE_DONE)); // the upgrade it started has ended

    // Handling the end starts the 35 s timer toward the next check; destruction does not
    // wait for it: it returns before the timer's time is up.
    start = GetTickCount();
    ASSERT_TRUE(m_View.PumpUntilHandled(NOTIFY_UPGRADE_DONE));
    m_pDlg.reset();
    EXPECT_LT(TicksSince(start), 35000u);
}

TEST(DialogLayout, ButtonsAndListFollowTheClientSize)
{
    KivLayout at430 = CKivOneClickDlg::ComputeLayout(430, 200);
    EXPECT_EQ(at430.check, (KivRect{10, 6, 200, 50}));
    EXPECT_EQ(at430.upgrade, (KivRect{220, 6, 200, 50}));
    EXPECT_EQ(at430.list, (KivRect{10, 62, 410, 132}));

    KivLayout wide = CKivOneClickDlg::ComputeLayout(1001, 700);
    EXPECT_EQ(wide.check, (KivRect{200, 6, 200, 50}));
    EXPECT_EQ(wide.upgrade, (KivRect{600, 6, 200, 50}));
    EXPECT_EQ(wide.list, (KivRect{10, 62, 981, 632}));
    EXPECT_EQ(wide.summary, KivRect{});
    // Lines under the list take their height and a 6-pixel gap from it.
    const KivLayout summed = CKivOneClickDlg::ComputeLayout(900, 302, 40);
    EXPECT_EQ(summed.list, (KivRect{10, 62, 880, 188}));
    EXPECT_EQ(summed.summary, (KivRect{10, 256, 880, 40}));

    EXPECT_EQ(CKivOneClickDlg::MinimumWidth(4), 438);
    EXPECT_EQ(CKivOneClickDlg::MinimumHeight(23, 4), 93);
    EXPECT_EQ(CKivOneClickDlg::FitColumnWidth(90, 40, 120), 120);
    EXPECT_EQ(CKivOneClickDlg::FitColumnWidth(90, 140, 120), 140);
}

} // namespace
