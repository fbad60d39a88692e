// The window driver against a window of another process (tests/win/TestWindowMain.cpp), as
// the tests of the program drive the real window: find it, read its list, press its buttons
// and keys, answer its message boxes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/WideText.h"
#include "tests/support/WindowDriver.h"

using kivtest::WindowDriver;

namespace {

// kivwin-testwindow.exe, beside this test program.
std::wstring TestWindowProgram()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program = path;
    program.erase(program.find_last_of(L"\\/") + 1);
    return program + L"kivwin-testwindow.exe";
}

class TestWindowProcess {
public:
    TestWindowProcess()
    {
        std::wstring command = L"\"" + TestWindowProgram() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        m_bStarted = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                    &m_Info) != FALSE;
    }
    ~TestWindowProcess()
    {
        if (!m_bStarted)
            return;
        if (WaitForSingleObject(m_Info.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_Info.hProcess, 99);
        CloseHandle(m_Info.hThread);
        CloseHandle(m_Info.hProcess);
    }
    bool Started() const { return m_bStarted; }
    // The exit code once it ended within `limitMs`, else -1.
    int Wait(DWORD limitMs) const
    {
        DWORD code = 0;
        if (WaitForSingleObject(m_Info.hProcess, limitMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(m_Info.hProcess, &code))
            return -1;
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION m_Info{};
    bool m_bStarted = false;
};

constexpr int CHECK = 1000;
constexpr int LIST = 1011;

bool TitleHas(const WindowDriver& driver, const std::wstring& part)
{
    return WindowDriver::WaitFor([&] { return driver.Title().find(part) != std::wstring::npos; });
}

// The display's DPI, as the display settings set it: read by a program when it starts.
void SetDisplayDpi(DWORD dpi)
{
    HKEY desktop = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &desktop, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi),
              ERROR_SUCCESS);
    RegCloseKey(desktop);
}

SIZE ControlSize(const WindowDriver& driver, int id)
{
    RECT rect{};
    GetWindowRect(GetDlgItem(driver.Window(), id), &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void CloseTestWindow(const WindowDriver& driver)
{
    ASSERT_TRUE(driver.Close());
    HWND box = driver.WaitForMessageBox(L"Are you sure?");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(WindowDriver::AnswerMessageBox(box, WindowDriver::BUTTON_YES));
    EXPECT_TRUE(driver.WaitClosed());
}

} // namespace

TEST(WindowDriver, DrivesADialogOfAnotherProcess)
{
    TestWindowProcess process;
    ASSERT_TRUE(process.Started());
    WindowDriver driver;
    ASSERT_TRUE(driver.WaitForWindow(L"KIV_UPGRADE_DLG", L"KIV test window"));

    // The list, read across the process boundary.
    ASSERT_TRUE(WindowDriver::WaitFor([&] { return driver.ListRowCount(LIST) == 3; }));
    EXPECT_EQ(driver.ListCell(LIST, 0, 0), "BOOT of router module");
    EXPECT_EQ(driver.ListCell(LIST, 1, 4), "Download successfully (00:12)");
    EXPECT_EQ(driver.ListCell(LIST, 2, 4), "Version mismatch");
    EXPECT_EQ(driver.ListItemData(LIST, 2), 0x0000FFu);
    EXPECT_EQ(driver.ListItemData(LIST, 0), 0xFF0000u);
    EXPECT_EQ(driver.ListCell(LIST, 7, 0), "");
    EXPECT_TRUE(driver.WaitForCell(LIST, 1, 3, [](const std::string& text) { return text == "100"; }));

    // A click, the hot key Alt+C and F1.
    EXPECT_TRUE(driver.IsControlEnabled(CHECK));
    EXPECT_FALSE(driver.IsControlEnabled(1013));
    EXPECT_EQ(driver.ControlText(CHECK), L"&Check");
    ASSERT_TRUE(driver.Click(CHECK));
    EXPECT_TRUE(TitleHas(driver, L"check 1 "));
    ASSERT_TRUE(driver.PressKey('C', true));
    EXPECT_TRUE(TitleHas(driver, L"check 2 "));
    ASSERT_TRUE(driver.PressKey(VK_F1));
    EXPECT_TRUE(TitleHas(driver, L"help 1"));

    // Escape asks first: No keeps the window, Yes (after the close box) closes it.
    ASSERT_TRUE(driver.PressKey(VK_ESCAPE));
    HWND box = driver.WaitForMessageBox(L"Are you sure?");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowDriver::MessageBoxText(box), L"Are you sure?");
    ASSERT_TRUE(WindowDriver::AnswerMessageBox(box, WindowDriver::BUTTON_NO));
    EXPECT_TRUE(WindowDriver::WaitFor([box] { return !IsWindow(box); }));
    EXPECT_TRUE(driver.Exists());
    CloseTestWindow(driver);
    EXPECT_EQ(process.Wait(kivtest::WINDOW_GUARD_MS), 0);
}

TEST(TestWindow, TheDialogScalesWithTheDisplaysDpi)
{
    // 100 %, 150 % and 200 %: the buttons keep their 200 x 50 at 96 DPI, scaled; the list's
    // rows grow with the font. (Asked from another process, Wine gives every window 96 DPI, so
    // the sizes tell.)
    // Sizes as they are on the screen: this process sees them unscaled only when it is DPI
    // aware itself.
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    int previousRowHeight = 0;
    for (DWORD dpi : {96u, 144u, 192u}) {
        SCOPED_TRACE(dpi);
        SetDisplayDpi(dpi);
        TestWindowProcess process;
        ASSERT_TRUE(process.Started());
        WindowDriver driver;
        ASSERT_TRUE(driver.WaitForWindow(L"KIV_UPGRADE_DLG", L"KIV test window"));
        const SIZE check = ControlSize(driver, CHECK);
        EXPECT_EQ(check.cx, MulDiv(200, static_cast<int>(dpi), 96));
        EXPECT_EQ(check.cy, MulDiv(50, static_cast<int>(dpi), 96));
        EXPECT_EQ(ControlSize(driver, 1013).cx, check.cx);
        ASSERT_TRUE(WindowDriver::WaitFor([&] { return driver.ListRowCount(LIST) == 3; }));
        const int rowHeight = driver.ListItemHeight(LIST, 0);
        EXPECT_GT(rowHeight, previousRowHeight);
        previousRowHeight = rowHeight;
        CloseTestWindow(driver);
    }
}
