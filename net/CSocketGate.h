#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "net/CWsaEvent.h"
#include "net/Socket.h"
#include "platform/NonCopyable.h"

// Owns a port's socket and keeps it alive under every operation that uses it.
//
// Read and Write enter the gate as users: they get the socket and its generation and may
// wait, send and receive on it until they leave. Open, Close and a reconnection change the
// socket only inside Exclusive(): that first signals the wake event (every user waits on
// it beside the socket and gives up at once), waits until the last user has left, and
// keeps new users out until the change is done. So no thread ever closes or replaces the
// socket under another thread's wait, send or receive, and a socket handle is never
// reused behind a user's back. The generation grows with every change, so a reconnection
// can be limited to the connection on which the failure happened.
class CSocketGate : public NonCopyable {
public:
    // One operation's hold on the socket; leaves the gate when it goes out of scope.
    class CUse {
    public:
        // Waits at most `timeoutMs` (scaled; INFINITE without limit) while another thread
        // changes the socket; TimedOut() tells when that wait ran out.
        explicit CUse(CSocketGate& gate, uint32_t timeoutMs = 0xFFFFFFFFu);
        ~CUse();
        CUse(const CUse&) = delete;
        CUse& operator=(const CUse&) = delete;

        bool IsOpen() const { return m_Socket != INVALID_NATIVE_SOCKET; }
        bool TimedOut() const { return m_bTimedOut; }
        NativeSocket Socket() const { return m_Socket; }
        uint64_t Generation() const { return m_generation; }
        // Leaves the gate early (before a pause or a reconnection).
        void Leave();

    private:
        CSocketGate& m_Gate;
        NativeSocket m_Socket = INVALID_NATIVE_SOCKET;
        uint64_t m_generation = 0;
        bool m_bEntered = false;
        bool m_bTimedOut = false;
    };

    // Access to the socket while no user is inside.
    struct Exclusive {
        CSocketHandle& socket;
        uint64_t generation;  // generation of `socket` before the change
        bool changed = false; // set by the change when it closed or replaced `socket`
    };

    CSocketGate() = default;
    ~CSocketGate() override = default;

    // Runs `change` with the users drained and kept out. When the change reports that it
    // closed or replaced the socket, the generation grows and the shutdown mark is cleared.
    void RunExclusive(const std::function<void(Exclusive&)>& change);

    // True when the socket was open after the last completed change (a change in progress
    // is not waited for).
    bool IsOpen() const;

    // While at least one abort is pending, a change that waits for a connection gives up
    // (it waits on AbortEvent()): Close and Shutdown use this so that they never wait for
    // the system's connect time-out of a reconnection that another thread started.
    void BeginAbort();
    void EndAbort();
    const CWsaEvent& AbortEvent() const { return m_Abort; }

    // The event every user waits on beside the socket: set while a change waits for them.
    const CWsaEvent& WakeEvent() const { return m_Wake; }
    // True when Shutdown was called on the socket of `generation`.
    bool WasShutDown(uint64_t generation) const;
    // Marks the socket of `generation` as shut down by this side and sets ShutDownEvent().
    void MarkShutDown(uint64_t generation);
    // Set from the shutdown of the current socket until the socket changes. Readers wait on
    // it beside the socket: Winsock (and Wine's in particular) may leave a receive that is
    // already waiting pending after shutdown(), and a read must not outlive our own shutdown.
    const CWsaEvent& ShutDownEvent() const { return m_ShutDownEvent; }

private:
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    CSocketHandle m_Socket;
    uint64_t m_Generation = 1;
    int m_Users = 0;
    int m_nAborts = 0;
    bool m_bChanging = false;
    bool m_bOpen = false; // m_Socket.Valid() after the last completed change
    bool m_bShutDown = false;
    CWsaEvent m_Wake;
    CWsaEvent m_Abort;
    CWsaEvent m_ShutDownEvent;
};
