// The main window against the virtual router: layout, button states, list rows and
// colours through a check and an upgrade, notifications, closing, warnings from workers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

#include "UiTestSupport.h"
#include "app/CKivOneClickDlg.h"
#include "engine/CRouterSession.h"
#include "engine/IComponentList.h"
#include "gui/CMainWindow.h"
#include "gui/CQtLoginInhibitor.h"
#include "gui/CStopSignalNotifier.h"
#include "gui/controls/CMyListCtrl.h"
#include "gui/controls/CXPStyleButtonST.h"
#include "platform/Clock.h"
#include "platform/CoreWarning.h"
#include "tests/support/Files.h"
#include "tests/support/LogText.h"
#include "tests/support/LoginManagerStandIn.h"
#include "tests/support/SampleSet.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/ScopedTimeScale.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Strict.h"
#include "tests/support/TempDir.h"
#include "tests/support/TimeScale.h"
#include "tests/support/VirtualRouter.h"

namespace {

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        m_Window = std::make_unique<CMainWindow>(nullptr);
        m_Window->Controller().SetLoopTestPath((TestDirectory() + "/LoopTest.ini").toStdString());
    }
    void Open()
    {
        m_Window->InitDialog();
        m_Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_Window.get()));
    }
    bool CheckEnabled() const { return m_Window->CheckButton()->isEnabled(); }
    bool UpgradeEnabled() const { return m_Window->UpgradeButton()->isEnabled(); }
    // Clicks "&Check" and waits for a passed check.
    void CheckPasses()
    {
        QTest::mouseClick(m_Window->CheckButton(), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !m_Window->Controller().IsWorkerRunning() && CheckEnabled(); }, 60000));
        ASSERT_TRUE(WaitUntil([&] { return UpgradeEnabled(); }));
        ASSERT_TRUE(m_Window->Controller().LastCheckPassed());
    }
    // What the window's controller has logged.
    std::string Logged() const
    {
        const CDownloadLog& log = m_Window->Controller().GetSession().Log();
        return kivtest::ReadFile(log.GetPath()) + log.GetPending();
    }

    std::unique_ptr<CMainWindow> m_Window;
};
} // namespace

TEST_F(WindowTest, LayoutNumbersAtSeveralSizesAndAtTheMinimum)
{
    Open();
    struct Size {
        int w, h;
    } sizes[] = {{900, 302}, {1000, 500}, {431, 300}};
    for (const Size& s : sizes) {
        m_Window->resize(s.w, s.h);
        ASSERT_TRUE(WaitUntil([&] { return m_Window->width() == s.w && m_Window->height() == s.h; }));
        const int gap = (s.w - 400) / 3;
        EXPECT_EQ(m_Window->CheckButton()->geometry(), QRect(gap, 6, 200, 50)) << s.w;
        EXPECT_EQ(m_Window->UpgradeButton()->geometry(), QRect(2 * gap + 200, 6, 200, 50)) << s.w;
        EXPECT_EQ(m_Window->List()->geometry(), QRect(10, 62, s.w - 20, s.h - 68)) << s.w;
    }
    // Dragging smaller stops at the minimum: a gap of 10 pixels.
    m_Window->resize(100, 30);
    ASSERT_TRUE(WaitUntil([&] { return m_Window->width() == 430; }));
    EXPECT_EQ(m_Window->height(), 62);
    EXPECT_EQ(m_Window->CheckButton()->geometry(), QRect(10, 6, 200, 50));
    EXPECT_EQ(m_Window->UpgradeButton()->geometry(), QRect(220, 6, 200, 50));

    // Every column fits its figure of ones and its header.
    CMyListCtrl* list = m_Window->List();
    ASSERT_EQ(list->columnCount(), 5);
    for (int i = 0; i < 5; ++i) {
        const std::string ones(static_cast<size_t>(CKivOneClickDlg::COLUMNS[i].widthFigure + 2), '1');
        EXPECT_GE(list->GetColumnWidth(i), list->GetStringWidth(ones)) << i;
        EXPECT_GE(list->GetColumnWidth(i), list->ContentAndHeaderWidth(i)) << i;
    }
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "Type");
    EXPECT_EQ(list->horizontalHeaderItem(4)->text(), "Status");
    // Time-scaled, the title says so after the specified part.
    EXPECT_EQ(m_Window->windowTitle().toStdString(),
              CMainWindow::BuildTitle() + " - Time scale " + kivtest::ScaleArgument(GetTimeScale()));
    EXPECT_EQ(m_Window->CheckButton()->text(), "&Check");
    EXPECT_EQ(m_Window->UpgradeButton()->text(), "&Upgrade");
    uint32_t hover = 0;
    m_Window->CheckButton()->GetColor(CButtonST::BTNST_COLOR_FG_IN, &hover);
    EXPECT_EQ(hover, 0x0000FFu);
}

TEST_F(WindowTest, NotificationOneDisablesBothAndHigherCodesChangeNothing)
{
    Open();
    m_Window->EnableButton(IKivView::IDC_UPGRADE, true);
    ASSERT_TRUE(WaitUntil([&] { return UpgradeEnabled(); }));
    m_Window->PostNotify(7);
    m_Window->PostNotify(6);
    // Posted work runs in order: once this has run, so have the two codes.
    bool handled = false;
    m_Window->RunOnViewThread([&] { handled = true; });
    ASSERT_TRUE(WaitUntil([&] { return handled; }));
    EXPECT_TRUE(CheckEnabled());
    EXPECT_TRUE(UpgradeEnabled());
    m_Window->PostNotify(NOTIFY_DISABLE_BUTTONS);
    ASSERT_TRUE(WaitUntil([&] { return !CheckEnabled() && !UpgradeEnabled(); }));
}

TEST_F(WindowTest, EscapeWhileIdleAsksWithNoPreselected)
{
    Open();
    BoxWatcher watcher;
    watcher.Arm(QMessageBox::No);
    QTest::keyClick(m_Window.get(), Qt::Key_Escape);
    EXPECT_EQ(watcher.seen, 1);
    EXPECT_EQ(watcher.text, "Are you sure?");
    EXPECT_EQ(watcher.defaultButton, QMessageBox::No);
    EXPECT_EQ(watcher.icon, QMessageBox::Information);
    EXPECT_TRUE(m_Window->isVisible());

    watcher.Arm(QMessageBox::Yes);
    QTest::keyClick(m_Window.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_Window->isVisible());
    EXPECT_EQ(m_Window->result(), QDialog::Rejected);
}

TEST_F(WindowTest, WorkerWarningWaitsForTheUserAndIsReleasedByClosing)
{
    Open();
    BoxWatcher watcher;
    watcher.Arm(QMessageBox::Ok);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ShowCoreWarning("m_UdpPort.Open() failed");
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(watcher.seen, 1);
    EXPECT_EQ(watcher.text, "m_UdpPort.Open() failed");
    EXPECT_EQ(watcher.icon, QMessageBox::Warning);
    watcher.Disarm();

    // A worker waiting for a box that is never shown is let go when the window ends.
    returned = false;
    std::thread waiting([&] {
        m_Window->ShowWarning("never answered");
        returned = true;
    });
    // No events are processed from here on, so the box is never shown: processing them (even
    // qWait(0)) would show it modally, with nobody to close it, once the worker has posted it.
    m_Window->EndDialog(IKivView::ID_CANCEL);
    waiting.join();
    EXPECT_TRUE(returned.load());
}

// A check and an upgrade against the virtual router: the button state table, the rows,
// their texts and colours, and Escape refused while the upgrade runs.
TEST_F(WindowTest, CheckAndUpgradeAgainstTheVirtualRouter)
{
    KIV_REQUIRE_PROGRAM(kivtest::SimProcess::Program());
    kivtest::VirtualRouter router;
    ASSERT_TRUE(router.Start());
    // The login manager's stand-in notes the transcript when the lock is taken and let go.
    kivtest::LoginManagerStandIn login([&router] { return router.Transcript(); });
    ASSERT_TRUE(login.Start(TestDirectory().toStdString()));
    kivtest::ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", login.Address());
    CQtLoginInhibitor inhibitor;
    m_Window->Controller().SetSleepInhibitor(&inhibitor);
    m_Window->Controller().SetRouterOverrides(router.Overrides());
    m_Window->Controller().SetImageDirectory(router.Images());
    Open();
    CMyListCtrl* list = m_Window->List();
    IComponentList* rows = m_Window->GetList();

    EXPECT_TRUE(CheckEnabled());
    EXPECT_FALSE(UpgradeEnabled());
    EXPECT_TRUE(m_Window->CheckButton()->isDefault());

    QTest::mouseClick(m_Window->CheckButton(), Qt::LeftButton);
    EXPECT_FALSE(CheckEnabled());
    EXPECT_FALSE(UpgradeEnabled());
    // The user works in another window while the check runs.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    ASSERT_TRUE(WaitUntil([&] { return !m_Window->Controller().IsWorkerRunning() && CheckEnabled(); }, 60000));
    ASSERT_TRUE(WaitUntil([&] { return UpgradeEnabled() && m_Window->focusWidget() == m_Window->UpgradeButton(); }));
    EXPECT_TRUE(m_Window->Controller().LastCheckPassed());
    elsewhere.hide();
    m_Window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_Window.get()));

    // Family A: BOOT, APP, Customization, Firmware, Dashboard.
    ASSERT_EQ(list->GetItemCount(), 5);
    const char* types[] = {"BOOT of router module", "APP of router module", "Customization of router module",
                           "Firmware of wireless module", "Dashboard of wireless module"};
    const char* images_[] = {"1.0.6.2", "2.1.7.1", "2.1.7.3", "11.608.13.02.00", "16.200.11.01.00"};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(list->GetItemText(row, 0), types[row]);
        EXPECT_EQ(list->GetItemText(row, 2), images_[row]);
        EXPECT_EQ(list->GetItemText(row, 4), "Waiting for the upgrade");
        EXPECT_EQ(list->GetItemData(row), 0xFF0000u);
        for (int col = 0; col < 5; ++col)
            EXPECT_EQ(list->GetItemText(row, col), rows->GetItemText(row, col)) << row << "," << col;
    }
    EXPECT_EQ(list->GetItemText(0, 1), "1.0.5.0");
    EXPECT_EQ(list->GetItemText(3, 1), "11.608.10.01.00");
    // Before anything is written, the window names the router it would write.
    EXPECT_TRUE(m_Window->Summary()->isVisible());
    EXPECT_EQ(m_Window->Summary()->text(), "Router 127.0.0.1, MAC 02-4B-49-56-00-01");

    // From "&Upgrade", Tab goes on to the list; Return there starts a check, not an upgrade
    // (the default button stays "&Check"). Tab then leaves the list.
    QTest::keyClick(m_Window->UpgradeButton(), Qt::Key_Tab);
    ASSERT_EQ(m_Window->focusWidget(), list);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_TRUE(m_Window->Controller().IsCheckRunning());
    EXPECT_FALSE(m_Window->Controller().IsUpgradeRunning());
    ASSERT_TRUE(WaitUntil([&] { return !m_Window->Controller().IsWorkerRunning() && UpgradeEnabled(); }, 60000));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Tab);
    EXPECT_NE(m_Window->focusWidget(), list);

    QTest::mouseClick(m_Window->UpgradeButton(), Qt::LeftButton);
    EXPECT_FALSE(CheckEnabled());
    EXPECT_FALSE(UpgradeEnabled());
    // Escape while the upgrade runs: refused with message 140, nothing asked.
    BoxWatcher watcher;
    watcher.Arm(QMessageBox::Ok);
    QTest::keyClick(m_Window.get(), Qt::Key_Escape);
    EXPECT_EQ(watcher.seen, 1);
    EXPECT_EQ(watcher.text, "The upgrade is in process. Please wait!");
    EXPECT_TRUE(m_Window->isVisible());
    watcher.Disarm();

    // The window stays responsive while rows move through their steps.
    const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    m_Window->resize(1000, 400);
    EXPECT_TRUE(WaitUntil([&] { return m_Window->List()->width() == 980; }, 2000));

    ASSERT_TRUE(WaitUntil([&] { return !m_Window->Controller().IsWorkerRunning() && CheckEnabled(); }, 120000));
    ASSERT_TRUE(WaitUntil([&] { return m_Window->focusWidget() == m_Window->CheckButton(); }));
    EXPECT_FALSE(UpgradeEnabled());
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(list->GetItemText(row, 3), "100%") << row;
        EXPECT_EQ(list->GetItemData(row), 0xFF0000u) << list->GetItemText(row, 4);
        EXPECT_EQ(list->GetItemText(row, 4), rows->GetItemText(row, 4));
    }
    (void)started;
    // What the module reads back after its restart is the firmware's current version now.
    EXPECT_TRUE(WaitUntil([&] { return list->GetItemText(3, 1) == "11.608.13.02.00"; })) << list->GetItemText(3, 1);

    // The lock was held from before the first write to after the last.
    ASSERT_TRUE(login.WaitReleased(1, std::chrono::seconds(10)));
    const auto locks = login.Locks();
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].arguments,
              (std::vector<std::string>{"shutdown:sleep:idle", "kivupgrade", "Writing router firmware", "block"}));
    EXPECT_EQ(kivtest::CountOf(locks[0].atTaken, "\"event\":\"RUT begin\""), 0);
    EXPECT_NE(locks[0].atReleased.find("\"event\":\"force-load released\""), std::string::npos);
    EXPECT_EQ(kivtest::CountOf(router.Transcript().substr(locks[0].atReleased.size()), "\"dir\":\"in\""), 0);
    m_Window->Controller().SetSleepInhibitor(nullptr);
}

// A stop signal during an upgrade (log-out, kill) lets the upgrade end as it would have,
// the module told to leave force-load mode and the log closed, and then closes the window.
TEST_F(WindowTest, StopSignalDuringAnUpgradeLetsItEndThenCloses)
{
    KIV_REQUIRE_PROGRAM(kivtest::SimProcess::Program());
    CStopSignalNotifier::BlockStopSignals(); // as main() does; raise() below targets this thread
    CStopSignalNotifier stops;
    ASSERT_TRUE(stops.IsValid());
    QObject::connect(&stops, &CStopSignalNotifier::StopRequested, m_Window.get(), &CMainWindow::OnStopSignal);
    kivtest::VirtualRouter router;
    ASSERT_TRUE(router.Start());
    m_Window->Controller().SetRouterOverrides(router.Overrides());
    m_Window->Controller().SetImageDirectory(router.Images());
    Open();
    ASSERT_NO_FATAL_FAILURE(CheckPasses());
    QTest::mouseClick(m_Window->UpgradeButton(), Qt::LeftButton);
    ASSERT_TRUE(m_Window->Controller().IsUpgradeRunning());
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(WaitUntil([&] { return !m_Window->isVisible(); }, 120000));
    EXPECT_FALSE(m_Window->Controller().IsWorkerRunning());
    EXPECT_EQ(m_Window->result(), QDialog::Rejected);
    EXPECT_EQ(m_Window->List()->GetItemText(4, 3), "100%") << "the dashboard was written to its end";
    const std::string log = Logged();
    const size_t signal = log.find("SIGTERM received: the upgrade goes on to its end, then the program ends");
    ASSERT_NE(signal, std::string::npos) << log;
    EXPECT_LT(signal, log.rfind("Leave Forcing Download Mode ..."));
    EXPECT_LT(log.rfind("Leave Forcing Download Mode ..."), log.rfind(std::string(50, '+')));
}

// The desktop's font; at the default size every status the engine writes shows whole, the
// status column takes the rest of the width, and no horizontal scroll bar is needed.
TEST_F(WindowTest, LongStatusesShowWholeAtTheDefaultSize)
{
    Open();
    EXPECT_EQ(m_Window->font(), QApplication::font());
    IComponentList* rows = m_Window->GetList();
    const char* types[] = {"BOOT of router module", "APP of router module", "Customization of router module",
                           "Firmware of wireless module", "Dashboard of wireless module"};
    for (int row = 0; row < 5; ++row) {
        rows->InsertItem(row, types[row]);
        rows->SetItemText(row, IComponentList::COL_CURRENT, "11.608.10.01.00");
        rows->SetItemText(row, IComponentList::COL_UPGRADE, "11.608.13.02.00");
        rows->SetItemText(row, IComponentList::COL_PERCENT, "100%");
    }
    rows->SetItemText(3, IComponentList::COL_STATUS, "Downloading the firmware of the wireless module");
    rows->SetItemText(4, IComponentList::COL_STATUS, "Check the status of automatically restoring the NV");
    m_Window->Relayout();
    CMyListCtrl* list = m_Window->List();
    ASSERT_TRUE(WaitUntil([&] { return list->GetItemText(4, 4) == rows->GetItemText(4, 4); }));
    m_Window->Layout();
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    for (int row : {3, 4})
        EXPECT_GE(list->GetColumnWidth(4), list->GetStringWidth(list->GetItemText(row, 4)) + 12) << row;
    EXPECT_GE(list->columnViewportPosition(4) + list->columnWidth(4), list->viewport()->width());
}

// With the loop-test flag file present, a successful check starts the upgrade by itself,
// and the end of the upgrade starts the next check.
TEST_F(WindowTest, LoopTestRunsUpgradeAndNextCheckWithoutTheUser)
{
    KIV_REQUIRE_PROGRAM(kivtest::SimProcess::Program());
    kivtest::VirtualRouter router;
    ASSERT_TRUE(router.Start());
    const QString flag = TestDirectory() + "/loop/LoopTest.ini";
    QDir().mkpath(TestDirectory() + "/loop");
    QFile(flag).open(QIODevice::WriteOnly);
    m_Window->Controller().SetLoopTestPath(flag.toStdString());
    m_Window->Controller().SetRouterOverrides(router.Overrides());
    m_Window->Controller().SetImageDirectory(router.Images());
    Open();
    ASSERT_TRUE(m_Window->Controller().IsLoopTest());

    QTest::mouseClick(m_Window->CheckButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return m_Window->Controller().IsUpgradeRunning(); }, 60000));
    EXPECT_TRUE(m_Window->Controller().LastCheckPassed());
    ASSERT_TRUE(WaitUntil([&] { return !m_Window->Controller().IsUpgradeRunning(); }, 120000));
    // 35 s (scaled) later the check runs again; closing then waits for it to end.
    ASSERT_TRUE(WaitUntil([&] { return m_Window->Controller().IsCheckRunning(); }, 60000));
    EXPECT_FALSE(CheckEnabled());
    EXPECT_FALSE(UpgradeEnabled());
}

// A worker's list changes never wait for the window's thread and reach the list in the
// order made; after the window detaches, changes only reach the workers' copy.
TEST_F(WindowTest, WorkerListChangesArriveInOrderWithoutWaiting)
{
    Open();
    IComponentList* rows = m_Window->GetList();
    std::thread worker([&] {
        for (int i = 0; i < 40; ++i) {
            const int row = rows->InsertItem(0, "row " + std::to_string(i));
            rows->SetItemText(row, IComponentList::COL_STATUS, "status " + std::to_string(i));
            rows->SetItemData(row, static_cast<uint32_t>(i));
            if (i % 3 == 0)
                rows->DeleteItem(rows->GetItemCount() - 1);
        }
        rows->SetItemText(99, 0, "no such row");
    });
    worker.join(); // finished although the window's thread processed nothing meanwhile
    ASSERT_EQ(rows->GetItemCount(), 26);
    CMyListCtrl* list = m_Window->List();
    // The list holds 26 rows once the 39th row is in, and again after the 40th: wait until
    // every cell agrees.
    auto same = [&] {
        if (list->GetItemCount() != rows->GetItemCount())
            return false;
        for (int row = 0; row < rows->GetItemCount(); ++row) {
            for (int col = 0; col < IComponentList::COLUMN_COUNT; ++col) {
                if (list->GetItemText(row, col) != rows->GetItemText(row, col))
                    return false;
            }
            if (list->GetItemData(row) != rows->GetItemData(row))
                return false;
        }
        return true;
    };
    EXPECT_TRUE(WaitUntil(same));
    ASSERT_EQ(list->GetItemCount(), 26);
    for (int row = 0; row < 26; ++row) {
        for (int col = 0; col < IComponentList::COLUMN_COUNT; ++col)
            ASSERT_EQ(list->GetItemText(row, col), rows->GetItemText(row, col)) << row;
        ASSERT_EQ(list->GetItemData(row), rows->GetItemData(row)) << row;
    }
    EXPECT_EQ(rows->GetStringWidth("1111"), list->GetStringWidth("1111"));
}

// What a worker changed in the list, rows and a column width, is on screen by the time a
// view call it makes afterwards runs on the window's thread.
TEST_F(WindowTest, LaterViewCallsSeeTheListCaughtUp)
{
    Open();
    IComponentList* rows = m_Window->GetList();
    CMyListCtrl* list = m_Window->List();
    const int width = list->GetColumnWidth(IComponentList::COL_STATUS) + 57;
    std::atomic<bool> ran{false};
    bool caughtUp = false;
    std::thread worker([&] {
        rows->InsertItem(0, "first");
        rows->InsertItem(1, "second");
        rows->SetItemText(1, IComponentList::COL_STATUS, "Waiting for the upgrade");
        rows->SetItemData(1, 0xFF0000u);
        rows->DeleteItem(0);
        rows->SetColumnWidth(IComponentList::COL_STATUS, width);
        m_Window->RunOnViewThread([&] {
            caughtUp = list->GetItemCount() == 1 && list->GetItemText(0, 0) == "second" &&
                       list->GetItemText(0, IComponentList::COL_STATUS) == "Waiting for the upgrade" &&
                       list->GetItemData(0) == 0xFF0000u && list->GetColumnWidth(IComponentList::COL_STATUS) == width;
            ran = true;
        });
    });
    worker.join();
    ASSERT_TRUE(WaitUntil([&] { return ran.load(); }));
    EXPECT_TRUE(caughtUp);
    EXPECT_EQ(rows->GetColumnWidth(IComponentList::COL_STATUS), width);
}
