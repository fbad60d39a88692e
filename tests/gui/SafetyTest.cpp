// The window on an ordinary desktop: F1 shows the help without a CHM viewer and is not
// frozen by a FIFO in place of the help file; another user's lock file does not keep the
// window from starting; a download log that cannot be written is said once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "app/CKivOneClickDlg.h"
#include "engine/CRouterSession.h"
#include "gui/CKivOneClickApp.h"
#include "gui/CMainWindow.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/Strict.h"

namespace {

using kivtest::ScopedEnv;

constexpr uid_t NOBODY = 65534;
const char* const LOCK_NAME = "87F8A3C7-65EF-4cf8-B947-0EC89C2774B3";

// A browser shown in a window of its own, or null.
QTextBrowser* VisibleHelpBrowser()
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* browser = top->findChild<QTextBrowser*>(QString(), Qt::FindDirectChildrenOnly);
        if (browser && top->isVisible() && browser->isVisible())
            return browser;
    }
    return nullptr;
}

// Closes every window showing a browser.
void CloseHelpWindows()
{
    while (QTextBrowser* browser = VisibleHelpBrowser())
        browser->window()->close();
}

std::string MakeDir(const QString& path, mode_t mode)
{
    QDir().mkpath(path);
    ::chmod(path.toLocal8Bit().constData(), mode);
    return path.toStdString();
}

class SafetyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        // A desktop with no application registered for any type: no CHM viewer.
        const QString empty = TestDirectory() + "/no-applications";
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
            m_Env.push_back(std::make_unique<ScopedEnv>(name, MakeDir(empty, 0700)));
        // A temporary directory of this test's own.
        m_strTmp = TestDirectory() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_Env.push_back(std::make_unique<ScopedEnv>("TMPDIR", MakeDir(m_strTmp, 0700)));
    }
    void TearDown() override
    {
        CloseHelpWindows();
        m_Env.clear();
    }

    void OpenWindow()
    {
        m_Window = std::make_unique<CMainWindow>(nullptr);
        m_Window->InitDialog();
        m_Window->show();
        m_Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_Window.get()));
    }

    std::vector<std::unique_ptr<ScopedEnv>> m_Env;
    QString m_strTmp;
    std::unique_ptr<CMainWindow> m_Window;
};

} // namespace

TEST_F(SafetyTest, F1WithoutAViewerShowsTheHelpWindowOnTheIndexAndItsLinksWork)
{
    OpenWindow();
    BoxWatcher boxes;
    boxes.Arm(QMessageBox::Ok);
    QTest::keyClick(m_Window.get(), Qt::Key_F1);
    ASSERT_TRUE(WaitUntil([] { return VisibleHelpBrowser() != nullptr; })) << "F1 showed nothing";
    QTextBrowser* browser = VisibleHelpBrowser();
    EXPECT_EQ(browser->source(), QUrl("qrc:/help/index.html"));
    EXPECT_EQ(browser->window()->windowTitle(), "Q350m Upgrade - User guide");
    EXPECT_TRUE(browser->toPlainText().contains("Press F1 at any time to open this guide."));

    // Click the first link of the index: the linked page shows.
    QTextCursor link = browser->document()->find("Checking the router");
    ASSERT_FALSE(link.isNull());
    link.setPosition(link.selectionStart() + 3);
    const QPoint at = browser->cursorRect(link).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    ASSERT_TRUE(WaitUntil([&] { return browser->source() == QUrl("qrc:/help/check.html"); }))
        << browser->source().toString().toStdString();
    EXPECT_EQ(browser->window()->windowTitle(), "Checking the router");
    EXPECT_TRUE(browser->toPlainText().startsWith("Checking the router"));

    // Back to the index.
    auto* back = browser->window()->findChild<QPushButton*>("helpBack");
    ASSERT_NE(back, nullptr);
    back->click();
    EXPECT_EQ(browser->source(), QUrl("qrc:/help/index.html"));
    EXPECT_EQ(boxes.seen, 0) << "unexpected warning: " << boxes.text.toStdString();

    // F1 again brings the same window back, on the index.
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    ASSERT_TRUE(WaitUntil([&] { return browser->source() == QUrl("qrc:/help/check.html"); }));
    m_Window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_Window.get()));
    QTest::keyClick(m_Window.get(), Qt::Key_F1);
    EXPECT_EQ(VisibleHelpBrowser(), browser);
    EXPECT_EQ(browser->source(), QUrl("qrc:/help/index.html"));
}

TEST_F(SafetyTest, FifoInPlaceOfTheHelpFileDoesNotFreezeF1)
{
    const std::string fifo = (m_strTmp + "/KivUpgradeHelp.chm").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    OpenWindow();

    // If F1 blocks on the FIFO, a writer at the other end frees it after a while and the
    // test fails instead of hanging.
    std::mutex lock;
    std::condition_variable doneChanged;
    bool done = false;
    bool freed = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (doneChanged.wait_for(guard, std::chrono::seconds(20), [&] { return done; }))
            return;
        freed = true;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    });

    BoxWatcher boxes;
    boxes.Arm(QMessageBox::Ok);
    QTest::keyClick(m_Window.get(), Qt::Key_F1);
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    doneChanged.notify_all();
    watchdog.join();
    EXPECT_FALSE(freed) << "F1 blocked on the FIFO";

    // No usable help file: warning 136, then the help all the same.
    EXPECT_EQ(boxes.seen, 1);
    EXPECT_EQ(boxes.text, "Help.chm is not exist in the current directory!");
    EXPECT_TRUE(WaitUntil([] { return VisibleHelpBrowser() != nullptr; }));
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}

TEST_F(SafetyTest, AnotherUsersLockFileDoesNotStopTheWindow)
{
    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("giving a file to another user needs root");
    // After "su": XDG_RUNTIME_DIR names a directory this user cannot use, and the shared
    // temporary directory holds the other user's lock file.
    ScopedEnv runtime("XDG_RUNTIME_DIR", (TestDirectory() + "/run-of-another-user/none").toStdString());
    const QString shared = m_strTmp + "/shared";
    ScopedEnv tmpdir("TMPDIR", MakeDir(shared, 01777));
    auto plant = [&](const QString& name) {
        const QByteArray path = (shared + "/" + name).toLocal8Bit();
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        ::close(fd);
        return fd >= 0 && ::chown(path.constData(), NOBODY, NOBODY) == 0;
    };
    ASSERT_TRUE(plant(LOCK_NAME));

    auto startAndClose = [] {
        int windows = 0;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* main = qobject_cast<CMainWindow*>(top); main && main->isVisible()) {
                    ++windows;
                    main->done(QDialog::Rejected);
                }
            }
        });
        closer.start(20);
        BoxWatcher boxes;
        boxes.Arm(QMessageBox::Ok);
        CKivOneClickApp app;
        const int status = app.InitInstance();
        EXPECT_EQ(boxes.seen, 0) << boxes.text.toStdString();
        return std::make_pair(status, windows);
    };
    EXPECT_EQ(startAndClose(), std::make_pair(0, 1));

    // Even the user's own lock name taken by another user only costs the guard.
    ASSERT_TRUE(plant(QString::fromLatin1(LOCK_NAME) + "-" + QString::number(geteuid())));
    EXPECT_EQ(startAndClose(), std::make_pair(0, 1));
}

TEST_F(SafetyTest, LogThatCannotBeWrittenIsSaidOnceWithoutStoppingTheWorker)
{
    const std::string fifo = (m_strTmp + "/KivUpgradeLog.txt").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    OpenWindow();
    CDownloadLog& log = m_Window->Controller().GetSession().Log();
    // A worker logs: it goes on at once, the warning comes on the window's thread.
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            LogPrintf(log, "line %d", i);
    });
    worker.join();
    auto warnings = [&] { return m_Window->findChildren<QMessageBox*>("logWarning"); };
    ASSERT_TRUE(WaitUntil([&] { return warnings().size() == 1 && warnings().front()->isVisible(); }));
    EXPECT_EQ(warnings().front()->text().toStdString(),
              "The download log cannot be written: " + fifo + " is not a regular file");
    LogPrintf(log, "one more");
    QCoreApplication::sendPostedEvents(); // a second warning would be queued by now
    EXPECT_EQ(warnings().size(), 1) << "said once";
    warnings().front()->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(WaitUntil([&] { return warnings().isEmpty(); }));
}
