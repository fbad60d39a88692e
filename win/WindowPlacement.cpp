#include "win/WindowPlacement.h"

#include <vector>

#include "app/WindowPlacementRecord.h"

namespace {
constexpr const wchar_t* SETTINGS_STORE = L"Software\\Varoni\\";
constexpr const wchar_t* SECTION = L"Settings";
constexpr const wchar_t* VALUE_NAME = L"Window Position";

// The offset from a placement's workspace coordinates (relative to the primary monitor's
// work area) to screen coordinates.
POINT WorkspaceOrigin()
{
    MONITORINFO primary{};
    primary.cbSize = sizeof primary;
    if (!GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary))
        return POINT{0, 0};
    return POINT{primary.rcWork.left - primary.rcMonitor.left, primary.rcWork.top - primary.rcMonitor.top};
}

bool FitsOnAMonitor(const WindowPlacementRecord& record)
{
    const POINT origin = WorkspaceOrigin();
    RECT screen{record.left + origin.x, record.top + origin.y, record.right + origin.x, record.bottom + origin.y};
    if (screen.right <= screen.left || screen.bottom <= screen.top)
        return false;
    HMONITOR monitor = MonitorFromRect(&screen, MONITOR_DEFAULTTONULL);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor == nullptr || !GetMonitorInfoW(monitor, &info))
        return false;
    WindowPlacementRecord onScreen = record;
    onScreen.left = screen.left;
    onScreen.top = screen.top;
    onScreen.right = screen.right;
    onScreen.bottom = screen.bottom;
    return onScreen.NormalRectFits(info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom);
}

bool Save(HWND window, HKEY section)
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (!GetWindowPlacement(window, &placement))
        return false;
    WindowPlacementRecord record;
    record.length = placement.length;
    record.flags = placement.flags;
    record.showCmd = WindowPlacementRecord::StoredShowCommand(placement.showCmd);
    record.minX = placement.ptMinPosition.x;
    record.minY = placement.ptMinPosition.y;
    record.maxX = placement.ptMaxPosition.x;
    record.maxY = placement.ptMaxPosition.y;
    record.left = placement.rcNormalPosition.left;
    record.top = placement.rcNormalPosition.top;
    record.right = placement.rcNormalPosition.right;
    record.bottom = placement.rcNormalPosition.bottom;
    const auto bytes = record.Encode();
    return RegSetValueExW(section, VALUE_NAME, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())) ==
           ERROR_SUCCESS;
}

bool Restore(HWND window, HKEY section)
{
    DWORD size = 0;
    if (RegGetValueW(section, nullptr, VALUE_NAME, RRF_RT_REG_BINARY, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size != WindowPlacementRecord::RECORD_SIZE)
        return false;
    std::vector<uint8_t> bytes(size);
    if (RegGetValueW(section, nullptr, VALUE_NAME, RRF_RT_REG_BINARY, nullptr, bytes.data(), &size) != ERROR_SUCCESS)
        return false;
    WindowPlacementRecord record;
    if (!WindowPlacementRecord::Decode(bytes.data(), size, record) || !FitsOnAMonitor(record))
        return false;
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    placement.flags = 0;
    // Whatever the value holds, the window comes back maximised or normal.
    placement.showCmd = WindowPlacementRecord::StoredShowCommand(record.showCmd);
    placement.ptMinPosition = POINT{record.minX, record.minY};
    placement.ptMaxPosition = POINT{record.maxX, record.maxY};
    placement.rcNormalPosition = RECT{record.left, record.top, record.right, record.bottom};
    return SetWindowPlacement(window, &placement) != FALSE;
}
} // namespace

std::wstring ApplicationName()
{
    std::vector<wchar_t> path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            std::wstring name(path.data(), length);
            const size_t slash = name.find_last_of(L"\\/");
            if (slash != std::wstring::npos)
                name.erase(0, slash + 1);
            const size_t dot = name.find_last_of(L'.');
            if (dot != std::wstring::npos && dot > 0)
                name.erase(dot);
            return name;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring SettingsKeyPath(const std::wstring& applicationName)
{
    return std::wstring(SETTINGS_STORE) + applicationName + L"\\" + SECTION;
}

bool SaveRestoreWindowPlacement(HWND window, bool save, const std::wstring& applicationName)
{
    if (window == nullptr || !IsWindow(window) || applicationName.empty())
        return false;
    HKEY section = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKeyPath(applicationName).c_str(), 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &section, nullptr) != ERROR_SUCCESS)
        return false;
    const bool done = save ? Save(window, section) : Restore(window, section);
    RegCloseKey(section);
    return done;
}
