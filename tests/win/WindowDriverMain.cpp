// kivwindriver: the window driver (tests/support/WindowDriver.h) for shell scripts. Runs in
// the Wine prefix of the program it drives (the same wineserver); one command a run:
//   kivwindriver.exe [--class NAME] [--title PART] [--timeout MS] COMMAND [ARGUMENT...]
//     wait-window                 waits for the window; prints its title
//     click ID                    presses button ID
//     enabled ID                  exit 0 when control ID is enabled, 1 when not
//     title                       prints the title
//     text ID                     prints the text of control ID
//     focus                       prints the id of the control that has the keyboard focus
//     rows LIST                   prints every row of list-view LIST: cells and colour, tab-separated
//     wait-cell LIST ROW COL TEXT waits until the cell holds TEXT (a part of it)
//     key NAME                    escape, return, tab, f1, alt+c, alt+u
//     answer BUTTON [TEXT]        ok, yes, no, cancel: presses it in the window's message box
//                                 (holding TEXT); prints the box's text
//     close                       the close box
//     wait-closed                 waits until the window is gone
//     rect                        prints the window's rectangle: left top right bottom
//     place X Y WIDTH HEIGHT      moves and sizes the window
//     query-end-session           sends WM_QUERYENDSESSION; prints the answer (1: may end)
//     end-session                 sends WM_ENDSESSION (the session ends); returns once the
//                                 window has handled it
// Every wait ends after --timeout milliseconds (10000). Exit status 0 on success, 1 when a
// wait ran out or the window did not do it, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/WideText.h"
#include "tests/support/WindowDriver.h"

using kivtest::WindowDriver;

namespace {

int Usage(const char* why)
{
    std::fprintf(stderr, "kivwindriver: %s (see the head of tests/win/WindowDriverMain.cpp)\n", why);
    return 2;
}

int Fail(const std::string& what)
{
    std::fprintf(stderr, "kivwindriver: %s\n", what.c_str());
    return 1;
}

bool Number(const std::string& text, int& value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        return false;
    value = static_cast<int>(parsed);
    return true;
}

int Run(const std::vector<std::string>& args, WindowDriver& driver, int timeout)
{
    const std::string& command = args[0];
    const size_t count = args.size() - 1;
    int id = 0;
    if (command == "wait-window" || command == "title") {
        std::printf("%s\n", Utf8FromWide(driver.Title()).c_str());
        return 0;
    }
    if ((command == "click" || command == "enabled") && count == 1 && Number(args[1], id)) {
        if (command == "enabled")
            return driver.IsControlEnabled(id) ? 0 : 1;
        return driver.Click(id) ? 0 : Fail("no button " + args[1]);
    }
    if (command == "focus" && count == 0) {
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(driver.Window(), nullptr), &thread))
            return Fail("no thread information");
        std::printf("%d\n", thread.hwndFocus != nullptr ? GetDlgCtrlID(thread.hwndFocus) : 0);
        return 0;
    }
    if (command == "text" && count == 1 && Number(args[1], id)) {
        std::printf("%s\n", Utf8FromWide(driver.ControlText(id)).c_str());
        return 0;
    }
    if (command == "rows" && count == 1 && Number(args[1], id)) {
        const int rows = driver.ListRowCount(id);
        if (rows < 0)
            return Fail("no list " + args[1]);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < 5; ++column)
                std::printf("%s\t", driver.ListCell(id, row, column).c_str());
            std::printf("%06llx\n", static_cast<unsigned long long>(driver.ListItemData(id, row)));
        }
        return 0;
    }
    int row = 0;
    int column = 0;
    if (command == "wait-cell" && count == 4 && Number(args[1], id) && Number(args[2], row) &&
        Number(args[3], column)) {
        const std::string& part = args[4];
        if (driver.WaitForCell(
                id, row, column, [&part](const std::string& text) { return text.find(part) != std::string::npos; },
                timeout))
            return 0;
        return Fail("cell " + args[2] + "," + args[3] + " holds \"" + driver.ListCell(id, row, column) + "\"");
    }
    if (command == "key" && count == 1) {
        static const std::map<std::string, std::pair<WORD, bool>> KEYS = {
            {"escape", {VK_ESCAPE, false}}, {"return", {VK_RETURN, false}}, {"tab", {VK_TAB, false}},
            {"f1", {VK_F1, false}},         {"alt+c", {'C', true}},         {"alt+u", {'U', true}}};
        const auto key = KEYS.find(args[1]);
        if (key == KEYS.end())
            return Usage("unknown key");
        return driver.PressKey(key->second.first, key->second.second) ? 0 : Fail("the key was not taken");
    }
    if (command == "answer" && (count == 1 || count == 2)) {
        static const std::map<std::string, int> BUTTONS = {{"ok", WindowDriver::BUTTON_OK},
                                                           {"yes", WindowDriver::BUTTON_YES},
                                                           {"no", WindowDriver::BUTTON_NO},
                                                           {"cancel", WindowDriver::BUTTON_CANCEL}};
        const auto button = BUTTONS.find(args[1]);
        if (button == BUTTONS.end())
            return Usage("unknown button");
        HWND box = driver.WaitForMessageBox(count == 2 ? WideFromUtf8(args[2]) : L"", timeout);
        if (box == nullptr)
            return Fail("no message box");
        std::printf("%s\n", Utf8FromWide(WindowDriver::MessageBoxText(box)).c_str());
        return WindowDriver::AnswerMessageBox(box, button->second) ? 0 : Fail("the box has no such button");
    }
    if (command == "rect" && count == 0) {
        RECT rect{};
        if (!GetWindowRect(driver.Window(), &rect))
            return Fail("no window rectangle");
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    int place[4] = {};
    if (command == "place" && count == 4 && Number(args[1], place[0]) && Number(args[2], place[1]) &&
        Number(args[3], place[2]) && Number(args[4], place[3]))
        return SetWindowPos(driver.Window(), nullptr, place[0], place[1], place[2], place[3], SWP_NOZORDER) != FALSE
                   ? 0
                   : Fail("the window did not move");
    if ((command == "query-end-session" || command == "end-session") && count == 0) {
        // Sent as Windows sends them: the first asks, the second says the session ends.
        const bool query = command == "query-end-session";
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutW(driver.Window(), query ? WM_QUERYENDSESSION : WM_ENDSESSION, query ? 0 : TRUE,
                                ENDSESSION_LOGOFF, SMTO_NORMAL, static_cast<UINT>(timeout), &answer) == 0)
            return Fail("the window did not answer " + command + " in time");
        if (query)
            std::printf("%d\n", answer != 0 ? 1 : 0);
        return 0;
    }
    if (command == "close" && count == 0)
        return driver.Close() ? 0 : Fail("the window did not take WM_CLOSE");
    if (command == "wait-closed" && count == 0)
        return driver.WaitClosed(timeout) ? 0 : Fail("the window is still open");
    return Usage("unknown command or wrong arguments");
}

} // namespace

int main(int rawArgc, char** rawArgv)
{
    CUtf8Arguments arguments(rawArgc, rawArgv);
    UseUtf8Console();
    // Sizes and places as they are on the screen, whatever the display's DPI.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const int argc = arguments.Count();
    char** argv = arguments.Values();
    std::wstring windowClass = L"KIV_UPGRADE_DLG";
    std::wstring title;
    int timeout = kivtest::WINDOW_GUARD_MS;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--class" && hasValue)
            windowClass = WideFromUtf8(argv[++i]);
        else if (arg == "--title" && hasValue)
            title = WideFromUtf8(argv[++i]);
        else if (arg == "--timeout" && hasValue && Number(argv[i + 1], timeout))
            ++i;
        else
            args.push_back(arg);
    }
    if (args.empty())
        return Usage("no command");
    WindowDriver driver;
    if (!driver.WaitForWindow(windowClass.c_str(), title, timeout))
        return Fail("no window of class " + Utf8FromWide(windowClass));
    return Run(args, driver, timeout);
}
