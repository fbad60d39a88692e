#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Process.h"

namespace kivtest {

// A stand-in for the login manager on a private bus: a dbus-daemon of the test's own (the
// session configuration, listening in the test's directory) on which this object owns
// org.freedesktop.login1 and answers Manager.Inhibit(what, who, why, mode) with one end of
// a pipe, as the real one answers with a FIFO. It watches the other end to see when the
// caller lets go of the lock (its last copy of the descriptor is closed). Point a program
// at it with DBUS_SYSTEM_BUS_ADDRESS=Address(). sd-bus serves it, on a thread of its own.
class LoginManagerStandIn {
public:
    // One Inhibit call, and what `snapshot` returned when the lock was taken (before the
    // caller had its answer) and when it was let go.
    struct Lock {
        std::vector<std::string> arguments; // what, who, why, mode
        std::string atTaken;
        std::string atReleased;
        bool released = false;
    };

    // `snapshot` runs on the stand-in's thread at both moments (e.g. reads a transcript).
    explicit LoginManagerStandIn(std::function<std::string()> snapshot = {});
    ~LoginManagerStandIn();
    LoginManagerStandIn(const LoginManagerStandIn&) = delete;
    LoginManagerStandIn& operator=(const LoginManagerStandIn&) = delete;

    // Starts the bus (its socket in `dir`) and the stand-in on it.
    ::testing::AssertionResult Start(const std::string& dir);
    // The bus address, for DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& Address() const { return m_strAddress; }

    std::vector<Lock> Locks() const;
    // Waits until `count` locks have been taken and let go.
    bool WaitReleased(size_t count, std::chrono::milliseconds limit);

    // The bus's callback for an Inhibit call (an sd_bus_message*), on the serving thread.
    void AnswerInhibit(void* message);

private:
    struct Watch {
        size_t lock;
        int fd; // our end of the pipe
    };
    void Serve();
    void CheckReleases(const std::vector<int>& hungUp);

    std::function<std::string()> m_Snapshot;
    Process m_Daemon;
    std::string m_strAddress;
    void* m_pBus = nullptr; // sd_bus*, used on the serving thread only after Start
    int m_nStopFd = -1;
    std::thread m_Thread;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Cond;
    std::vector<Lock> m_Locks;
    std::vector<Watch> m_Watches; // serving thread only
};

} // namespace kivtest
