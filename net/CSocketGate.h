#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/CPollableEvent.h"
#include "platform/CUniqueFd.h"
#include "platform/NonCopyable.h"

// Owns a port's socket and keeps it alive under every operation that uses it.
//
// Read and Write enter the gate as users: they get the descriptor and its generation and
// may poll, send and receive on it until they leave. Open, Close and a reconnection change
// the socket only inside Exclusive(): that first signals the wake event (every user polls
// it next to the socket and gives up at once), waits until the last user has left, and
// keeps new users out until the change is done. So no thread ever closes or replaces the
// socket under another thread's poll, send or receive, and a descriptor number is never
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

        bool IsOpen() const { return m_fd >= 0; }
        bool TimedOut() const { return m_bTimedOut; }
        int Fd() const { return m_fd; }
        uint64_t Generation() const { return m_generation; }
        // Leaves the gate early (before a pause or a reconnection).
        void Leave();

    private:
        CSocketGate& m_Gate;
        int m_fd = -1;
        uint64_t m_generation = 0;
        bool m_bEntered = false;
        bool m_bTimedOut = false;
    };

    // Access to the socket while no user is inside.
    struct Exclusive {
        CUniqueFd& socket;
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
    // (it polls AbortHandle()): Close and Shutdown use this so that they never wait for the
    // system's connect time-out of a reconnection that another thread started.
    void BeginAbort();
    void EndAbort();
    int AbortHandle() const { return m_Abort.Handle(); }

    // Descriptor of the wake event (-1 when it could not be created).
    int WakeHandle() const { return m_Wake.Handle(); }
    // True when Shutdown was called on the socket of `generation`.
    bool WasShutDown(uint64_t generation) const;
    // Marks the socket of `generation` as shut down by this side.
    void MarkShutDown(uint64_t generation);

private:
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    CUniqueFd m_Socket;
    uint64_t m_Generation = 1;
    int m_Users = 0;
    int m_nAborts = 0;
    bool m_bChanging = false;
    bool m_bOpen = false; // m_Socket.Valid() after the last completed change
    bool m_bShutDown = false;
    CPollableEvent m_Wake;
    CPollableEvent m_Abort;
};
