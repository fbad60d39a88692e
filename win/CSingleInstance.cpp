#include "win/CSingleInstance.h"

CSingleInstance::CSingleInstance(const wchar_t* mutexName) : m_pName(mutexName) {}

CSingleInstance::~CSingleInstance() { Release(); }

CSingleInstance::Result CSingleInstance::Acquire()
{
    Release();
    m_hMutex = CreateMutexW(nullptr, TRUE, m_pName);
    m_nError = GetLastError();
    if (m_hMutex == nullptr)
        return Result::Failed;
    if (m_nError == ERROR_ALREADY_EXISTS) {
        // Another copy made it (and owns it): this handle gives nothing.
        CloseHandle(m_hMutex);
        m_hMutex = nullptr;
        return Result::AlreadyRunning;
    }
    m_nError = 0;
    m_bOwned = true;
    return Result::Acquired;
}

void CSingleInstance::Release()
{
    if (m_hMutex == nullptr)
        return;
    if (m_bOwned)
        ReleaseMutex(m_hMutex);
    CloseHandle(m_hMutex);
    m_hMutex = nullptr;
    m_bOwned = false;
}

bool CSingleInstance::ActivateRunningInstance(const wchar_t* windowClass)
{
    HWND window = FindWindowW(windowClass, nullptr);
    if (window == nullptr)
        return false;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    // The active popup of the window (a message box it shows) comes forward with it.
    SetForegroundWindow(GetLastActivePopup(window));
    return true;
}

bool CSingleInstance::RegisterDialogClass(HINSTANCE module)
{
    WNDCLASSEXW dialogClass{};
    dialogClass.cbSize = sizeof dialogClass;
    if (GetClassInfoExW(module, WINDOW_CLASS, &dialogClass))
        return true;
    // The system dialog class "#32770" is known by its atom.
    if (!GetClassInfoExW(nullptr, MAKEINTATOM(0x8002), &dialogClass))
        return false;
    dialogClass.cbSize = sizeof dialogClass;
    dialogClass.hInstance = module;
    dialogClass.lpszClassName = WINDOW_CLASS;
    return RegisterClassExW(&dialogClass) != 0;
}
