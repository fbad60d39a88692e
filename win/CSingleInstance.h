#pragma once

#include <windows.h>

// One copy of the program at a time: the first copy holds a named mutex for as long as its
// dialog is open; a later copy finds the first one's window (of the dialog's own window
// class), restores it when it is minimised, brings it to the front, and ends.
class CSingleInstance {
public:
    static constexpr const wchar_t* MUTEX_NAME = L"87F8A3C7-65EF-4cf8-B947-0EC89C2774B3";
    // The main dialog's window class: a copy of the system dialog class under this name.
    static constexpr const wchar_t* WINDOW_CLASS = L"KIV_UPGRADE_DLG";

    enum class Result { Acquired, AlreadyRunning, Failed };

    // `mutexName`: tests use names of their own.
    explicit CSingleInstance(const wchar_t* mutexName = MUTEX_NAME);
    // Releases and closes the mutex.
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Creates the mutex, owned by this copy. Failed: Error() holds the system error code.
    Result Acquire();
    DWORD Error() const { return m_nError; }
    void Release();

    // The running copy's top-level window of `windowClass`: restored when minimised and
    // brought to the front. False when there is none.
    static bool ActivateRunningInstance(const wchar_t* windowClass = WINDOW_CLASS);

    // Registers WINDOW_CLASS for `module` as a copy of the system dialog class (procedure,
    // styles and resources; only the name differs). True when registered now or before.
    static bool RegisterDialogClass(HINSTANCE module);

private:
    const wchar_t* m_pName;
    HANDLE m_hMutex = nullptr;
    bool m_bOwned = false;
    DWORD m_nError = 0;
};
