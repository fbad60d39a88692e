// What the window does around its controls: worker calls posted to the dialog's thread, the
// list fed from the workers' rows, the placement in the registry, the help file, the single
// instance, the end-session guard and the layout at any DPI.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "app/WindowPlacementRecord.h"
#include "platform/UserFiles.h"
#include "platform/WideText.h"
#include "res/Resources.h"
#include "tests/support/TempDir.h"
#include "tests/support/WindowDriver.h"
#include "tests/win/TestDialog.h"
#include "win/CDialogThreadQueue.h"
#include "win/CEndSessionGuard.h"
#include "win/CHelpCommand.h"
#include "win/CListViewBridge.h"
#include "win/CSingleInstance.h"
#include "win/DialogLayout.h"
#include "win/WindowPlacement.h"

using kivtest::PumpMessagesUntil;
using kivtest::TestDialog;

namespace {

// A hidden window whose procedure does what a dialog's does with the queue's messages: it
// records the notification codes and runs the tasks.
class QueueWindow {
public:
    QueueWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KivQueueTestWindow";
        RegisterClassW(&windowClass);
        m_hWnd = CreateWindowW(L"KivQueueTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                               this);
        m_Queue.Attach(m_hWnd);
    }
    ~QueueWindow()
    {
        m_Queue.Detach();
        DestroyWindow(m_hWnd);
    }
    CDialogThreadQueue& Queue() { return m_Queue; }
    // Notification codes as "N4", tasks as the text they add.
    std::vector<std::string> m_Seen;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<QueueWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && message == CDialogThreadQueue::WM_KIV_NOTIFY) {
            self->m_Seen.push_back("N" + std::to_string(wParam));
            return 0;
        }
        if (self != nullptr && self->m_Queue.HandleMessage(message))
            return 0;
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
    CDialogThreadQueue m_Queue;
};

std::vector<uint8_t> FileBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> StoredPlacement(const std::wstring& application)
{
    DWORD size = 0;
    const std::wstring key = SettingsKeyPath(application);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Window Position", RRF_RT_REG_BINARY, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return {};
    std::vector<uint8_t> bytes(size);
    RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Window Position", RRF_RT_REG_BINARY, nullptr, bytes.data(), &size);
    return bytes;
}

void StorePlacement(const std::wstring& application, const std::vector<uint8_t>& bytes)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKeyPath(application).c_str(), L"Window Position", REG_BINARY,
                    bytes.data(), static_cast<DWORD>(bytes.size()));
}

KivLayout TestLayout(int width, int height, int /*summaryHeight*/)
{
    const int gap = (width - 400) / 3;
    return KivLayout{{gap, 6, 200, 50}, {2 * gap + 200, 6, 200, 50}, {10, 62, width - 20, height - 68}, {}};
}

} // namespace

TEST(DialogThreadQueue, WorkerCallsArriveInTheOrderPostedAndNothingAfterTheDialogIsGone)
{
    QueueWindow window;
    CDialogThreadQueue& queue = window.Queue();
    const DWORD dialogThread = GetCurrentThreadId();
    std::atomic<DWORD> taskThread{0};
    std::thread worker([&] {
        EXPECT_FALSE(queue.OnDialogThread());
        queue.Post([&] {
            window.m_Seen.push_back("enable");
            taskThread = GetCurrentThreadId();
        });
        queue.PostNotify(4);
        queue.Post([&] { window.m_Seen.push_back("relayout"); });
        queue.PostNotify(0);
    });
    worker.join();
    ASSERT_TRUE(PumpMessagesUntil([&] { return window.m_Seen.size() == 4; }));
    EXPECT_EQ(window.m_Seen, (std::vector<std::string>{"enable", "N4", "relayout", "N0"}));
    EXPECT_EQ(taskThread.load(), dialogThread);

    // Once the dialog is destroyed nothing is posted, and what was queued never runs.
    queue.Post([&] { window.m_Seen.push_back("late"); });
    queue.Detach();
    EXPECT_FALSE(queue.Post([] {}));
    EXPECT_FALSE(queue.PostNotify(5));
    PumpMessagesUntil([] { return false; }, 50);
    EXPECT_EQ(window.m_Seen.size(), 4u);
}

TEST(DialogThreadQueue, AWorkerWaitsForTheDialogThreadUntilTheDialogBeginsClosing)
{
    QueueWindow window;
    CDialogThreadQueue& queue = window.Queue();
    // A warning from a worker: shown on the dialog thread, the worker has the answer.
    std::atomic<int> answer{-1};
    std::thread worker([&] { answer = queue.RunAndWait([] { return GetCurrentThreadId() != 0 ? 6 : 0; }, 1); });
    ASSERT_TRUE(PumpMessagesUntil([&] { return answer.load() != -1; }));
    worker.join();
    EXPECT_EQ(answer.load(), 6);
    // On the dialog thread itself it runs at once.
    EXPECT_EQ(queue.RunAndWait([] { return 7; }, 1), 7);

    // The dialog thread never gets to the task: closing releases the worker all the same.
    std::thread waiting([&] { answer = queue.RunAndWait([] { return 6; }, 1); });
    queue.BeginClosing();
    waiting.join();
    EXPECT_EQ(answer.load(), 1);
    EXPECT_EQ(queue.RunAndWait([] { return 6; }, 1), 1);
}

TEST(ListViewBridge, RowsWrittenByAWorkerReachTheListView)
{
    TestDialog dialog(nullptr);
    ASSERT_TRUE(dialog.Create());
    CDialogThreadQueue queue;
    queue.Attach(dialog.Hwnd());
    dialog.m_OtherMessages = [&queue](UINT message) { return queue.HandleMessage(message); };
    auto bridge = std::make_unique<CListViewBridge>(dialog.List(), queue);
    CListModel& rows = bridge->Rows();
    std::thread filling([&] {
        for (int row = 0; row < 9; ++row) {
            rows.InsertItem(row, "component " + std::to_string(row));
            rows.SetItemText(row, IComponentList::COL_STATUS, "Waiting for the upgrade");
            rows.SetItemData(row, 0xFF0000);
        }
    });
    filling.join();
    ASSERT_TRUE(PumpMessagesUntil([&] { return dialog.List().GetItemCount() == 9; }));
    // A row goes, another changes, a column widens: the list follows.
    std::thread changing([&] {
        rows.SetItemText(8, IComponentList::COL_PERCENT, "42");
        rows.SetItemData(8, 0x0000FF);
        rows.DeleteItem(0);
        rows.SetColumnWidth(IComponentList::COL_STATUS, 333);
    });
    changing.join();
    ASSERT_TRUE(
        PumpMessagesUntil([&] { return dialog.List().GetItemCount() == 8 && dialog.List().GetColumnWidth(4) == 333; }));
    EXPECT_EQ(dialog.List().GetItemText(0, 0), "component 1");
    EXPECT_EQ(dialog.List().GetItemText(7, 3), "42");
    EXPECT_EQ(dialog.List().GetItemData(7), 0x0000FFu);
    EXPECT_EQ(dialog.List().GetItemData(6), 0xFF0000u);
    // The list's font measures the workers' texts: wider text, more pixels.
    EXPECT_GT(rows.GetStringWidth("WWWW"), rows.GetStringWidth("iiii"));
    EXPECT_EQ(rows.GetStringWidth("11"), dialog.List().GetStringWidth("11"));
    queue.Detach();
}

TEST(WindowPlacement, SavedToTheRegistryAndRestoredWhereItFits)
{
    const std::wstring application = L"kivwin-placement-test";
    TestDialog first(nullptr);
    ASSERT_TRUE(first.Create());
    SetWindowPos(first.Hwnd(), nullptr, 120, 130, 640, 300, SWP_NOZORDER);
    ASSERT_TRUE(SaveRestoreWindowPlacement(first.Hwnd(), true, application));
    WindowPlacementRecord record;
    std::vector<uint8_t> stored = StoredPlacement(application);
    ASSERT_TRUE(WindowPlacementRecord::Decode(stored.data(), stored.size(), record));
    EXPECT_EQ(record.length, 44u);
    EXPECT_EQ(record.showCmd, 1u);
    EXPECT_EQ(record.right - record.left, 640);
    EXPECT_EQ(record.bottom - record.top, 300);

    // Minimised is stored as normal, maximised as maximised.
    const struct {
        int show;
        uint32_t stored;
    } states[] = {{SW_MINIMIZE, 1}, {SW_MAXIMIZE, 3}};
    for (const auto& state : states) {
        ShowWindow(first.Hwnd(), state.show);
        ASSERT_TRUE(SaveRestoreWindowPlacement(first.Hwnd(), true, application));
        stored = StoredPlacement(application);
        ASSERT_TRUE(WindowPlacementRecord::Decode(stored.data(), stored.size(), record));
        EXPECT_EQ(record.showCmd, state.stored) << state.show;
    }
    TestDialog second(nullptr);
    ASSERT_TRUE(second.Create());
    ASSERT_TRUE(SaveRestoreWindowPlacement(second.Hwnd(), false, application));
    EXPECT_TRUE(IsZoomed(second.Hwnd()));

    // A normal rectangle restored as it was stored.
    record.showCmd = 1;
    record.left = 50;
    record.top = 60;
    record.right = 550;
    record.bottom = 310;
    const auto encoded = record.Encode();
    StorePlacement(application, std::vector<uint8_t>(encoded.begin(), encoded.end()));
    TestDialog third(nullptr);
    ASSERT_TRUE(third.Create());
    ASSERT_TRUE(SaveRestoreWindowPlacement(third.Hwnd(), false, application));
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(third.Hwnd(), &placement);
    EXPECT_EQ(placement.rcNormalPosition.left, 50);
    EXPECT_EQ(placement.rcNormalPosition.bottom, 310);
    EXPECT_FALSE(IsZoomed(third.Hwnd()));

    // Ignored: values of another size, a place on no screen, a hidden or minimised state.
    WindowPlacementRecord offScreen = record;
    offScreen.left += 20000;
    offScreen.right += 20000;
    const auto farAway = offScreen.Encode();
    WindowPlacementRecord hidden = record;
    hidden.showCmd = 0;
    const auto hiddenBytes = hidden.Encode();
    const std::vector<std::vector<uint8_t>> ignored = {std::vector<uint8_t>(encoded.begin(), encoded.begin() + 40),
                                                       std::vector<uint8_t>(48, 0),
                                                       std::vector<uint8_t>(farAway.begin(), farAway.end())};
    for (const auto& bytes : ignored) {
        StorePlacement(application, bytes);
        TestDialog fresh(nullptr);
        ASSERT_TRUE(fresh.Create());
        RECT before{};
        GetWindowRect(fresh.Hwnd(), &before);
        EXPECT_FALSE(SaveRestoreWindowPlacement(fresh.Hwnd(), false, application)) << bytes.size();
        RECT after{};
        GetWindowRect(fresh.Hwnd(), &after);
        EXPECT_TRUE(EqualRect(&before, &after));
    }
    StorePlacement(application, std::vector<uint8_t>(hiddenBytes.begin(), hiddenBytes.end()));
    TestDialog shown(nullptr);
    ASSERT_TRUE(shown.Create());
    ASSERT_TRUE(SaveRestoreWindowPlacement(shown.Hwnd(), false, application));
    EXPECT_TRUE(IsWindowVisible(shown.Hwnd()));
    EXPECT_FALSE(IsIconic(shown.Hwnd()));
    EXPECT_FALSE(SaveRestoreWindowPlacement(nullptr, true, application));
}

TEST(HelpCommand, WritesTheHiddenHelpFileOnceAndHandsItToTheShell)
{
    kivtest::TempDir dir;
    const std::wstring folder = WideFromUtf8(dir.Path()) + L"\\";
    const std::vector<uint8_t> help = {'I', 'T', 'S', 'F', 3, 0, 0, 0};
    const std::wstring path = CHelpCommand::Prepare(folder, help.data(), help.size());
    ASSERT_EQ(path, folder + L"KivUpgradeHelp.chm");
    EXPECT_EQ(FileBytes(path), help);
    EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    // A file already there is used unchanged; without one and without data there is none.
    const std::vector<uint8_t> newer = {'n', 'e', 'w'};
    EXPECT_EQ(CHelpCommand::Prepare(folder, newer.data(), newer.size()), path);
    EXPECT_EQ(FileBytes(path), help);
    kivtest::TempDir empty;
    EXPECT_EQ(CHelpCommand::Prepare(WideFromUtf8(empty.Path()) + L"\\", nullptr, 0), L"");
    // A directory in the file's place, and a path too long for the shell.
    kivtest::TempDir blocked;
    const std::wstring blockedFolder = WideFromUtf8(blocked.Path()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW((blockedFolder + L"KivUpgradeHelp.chm").c_str(), nullptr));
    EXPECT_EQ(CHelpCommand::Prepare(blockedFolder, help.data(), help.size()), L"");
    EXPECT_EQ(CHelpCommand::Prepare(folder + std::wstring(260, L'x') + L"\\", help.data(), help.size()), L"");

    // F1 with the program's own help, and the shell's answer.
    const auto embedded = LoadResourceBytes(152, "CHM");
    ASSERT_TRUE(embedded.has_value());
    std::wstring opened;
    const auto open = [&opened](HWND, const std::wstring& file) {
        opened = file;
        return true;
    };
    EXPECT_EQ(CHelpCommand::Run(nullptr, open), CHelpCommand::Outcome::Opened);
    EXPECT_EQ(opened, WideFromUtf8(GetTempDirectory()) + L"KivUpgradeHelp.chm");
    EXPECT_EQ(FileBytes(opened), std::vector<uint8_t>(embedded->data, embedded->data + embedded->size));
    EXPECT_EQ(CHelpCommand::Run(nullptr, [](HWND, const std::wstring&) { return false; }),
              CHelpCommand::Outcome::OpenFailed);
}

TEST(SingleInstance, ASecondCopyFindsTheFirstAndBringsItBack)
{
    const wchar_t* name = L"kiv-single-instance-test";
    CSingleInstance first(name);
    CSingleInstance second(name);
    ASSERT_EQ(first.Acquire(), CSingleInstance::Result::Acquired);
    EXPECT_EQ(second.Acquire(), CSingleInstance::Result::AlreadyRunning);
    first.Release();
    EXPECT_EQ(second.Acquire(), CSingleInstance::Result::Acquired);

    EXPECT_FALSE(CSingleInstance::ActivateRunningInstance());
    TestDialog dialog(nullptr);
    ASSERT_TRUE(dialog.Create());
    wchar_t className[64] = {};
    GetClassNameW(dialog.Hwnd(), className, 64);
    EXPECT_STREQ(className, L"KIV_UPGRADE_DLG");
    ShowWindow(dialog.Hwnd(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(dialog.Hwnd()));
    EXPECT_TRUE(CSingleInstance::ActivateRunningInstance());
    EXPECT_FALSE(IsIconic(dialog.Hwnd()));
    EXPECT_TRUE(PumpMessagesUntil([&] { return GetForegroundWindow() == dialog.Hwnd(); }));
}

TEST(EndSessionGuard, TheSessionMayNotEndWhileAnUpgradeRuns)
{
    TestDialog dialog(nullptr);
    ASSERT_TRUE(dialog.Create());
    CEndSessionGuard guard(dialog.Hwnd());
    EXPECT_EQ(guard.OnQueryEndSession(), TRUE);
    guard.SetBusy(true);
    EXPECT_EQ(guard.OnQueryEndSession(), FALSE);
    guard.SetBusy(false);
    EXPECT_EQ(guard.OnQueryEndSession(), TRUE);
}

TEST(DialogLayout, TheControllersNumbersScaleWithTheDpi)
{
    // A client area of 900 x 300 pixels at 96 DPI, and the same area at 150 % and 200 %.
    for (UINT dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(dpi);
        const int scale100 = static_cast<int>(dpi);
        const KivLayout layout = ScaledLayout(TestLayout, 900 * scale100 / 96, 300 * scale100 / 96, dpi);
        EXPECT_EQ(layout.check,
                  (KivRect{166 * scale100 / 96, 6 * scale100 / 96, 200 * scale100 / 96, 50 * scale100 / 96}));
        EXPECT_EQ(layout.upgrade.x, 532 * scale100 / 96);
        EXPECT_EQ(layout.list,
                  (KivRect{10 * scale100 / 96, 62 * scale100 / 96, 880 * scale100 / 96, 232 * scale100 / 96}));
    }
    const auto minimumWidth = [](int frame) { return 2 * frame + 430; };
    const auto minimumHeight = [](int caption, int frame) { return caption + 2 * frame + 62; };
    const SIZE small = ScaledMinimumSize(minimumWidth, minimumHeight, 96);
    const SIZE large = ScaledMinimumSize(minimumWidth, minimumHeight, 192);
    EXPECT_GE(small.cx, 430);
    EXPECT_GE(large.cx, 860);
    EXPECT_GE(large.cy, 2 * 62);
}
