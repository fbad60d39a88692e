#pragma once

#include <windows.h>

#include <string>

// The window placement in the registry: HKEY_CURRENT_USER\Software\Varoni\<application
// name>\Settings, value "Window Position", the 44-byte record of
// app/WindowPlacementRecord.h as raw bytes.

// The program file's base name without its extension ("kivupgrade"): the application name.
std::wstring ApplicationName();

// The settings key below HKEY_CURRENT_USER for `applicationName`.
std::wstring SettingsKeyPath(const std::wstring& applicationName);

// Saves or restores `window`'s placement. Saving stores a minimised window as normal.
// Restoring ignores a value of any size but 44 bytes, and a normal rectangle that does not
// fit wholly on one monitor's work area (a screen that is gone, a resolution that shrank);
// it shows the window maximised or normal, never minimised or hidden. False when anything
// fails or the value is ignored; the window then keeps its place.
bool SaveRestoreWindowPlacement(HWND window, bool save, const std::wstring& applicationName = ApplicationName());
