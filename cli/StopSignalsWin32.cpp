// The stop path on Windows. Ctrl+C, Ctrl+Break, closing the console window, log-off and
// shutdown reach the console control handler, on a thread Windows starts for each; the
// handler leaves the request for the main thread, which takes it as it takes a stop signal
// on POSIX: it stops a check, or lets an upgrade run to its end (leaving force-load mode and
// writing its last log lines). There is nothing to block in the other threads: Windows
// never stops a thread to deliver a console event. Windows sends log-off and shutdown to a
// console program only while it has not loaded user32.dll (shell32.dll, which reads the wide
// command line, loads it); otherwise they come as window messages, which only a window
// receives.
#include "cli/StopSignals.h"

#include <windows.h>

#include <atomic>

namespace {

// The request not taken yet: the signal that stands for it, or 0.
std::atomic<int> g_nPending{0};

// Set (auto-reset) whenever a request comes in, so that a waiting TakeStopSignal wakes.
HANDLE PendingEvent()
{
    static const HANDLE EVENT = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return EVENT;
}

int SignalFor(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM; // the console closed, log-off, shutdown
    }
}

BOOL WINAPI OnConsoleControl(DWORD type)
{
    g_nPending.store(SignalFor(type));
    SetEvent(PendingEvent());
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT)
        return TRUE;
    // After the console closed, log-off or shutdown, Windows ends the process as soon as the
    // handler returns (and a few seconds later in any case). Not returning leaves the main
    // thread those seconds for the stop path; the process ends when main() returns.
    for (;;)
        Sleep(60 * 1000);
}

} // namespace

void BlockStopSignals()
{
    PendingEvent();
    // A program started with Ctrl+C ignored (in a process group of its own) takes it again.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void IgnoreBrokenPipes() {}

int TakeStopSignal(long waitNs)
{
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(waitNs > 0 ? waitNs / 1000000L : 0);
    for (;;) {
        if (const int sig = g_nPending.exchange(0); sig != 0)
            return sig;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        WaitForSingleObject(PendingEvent(), static_cast<DWORD>(deadline - now));
    }
}
