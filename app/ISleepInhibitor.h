#pragma once

#include <string>

// Keeps the machine from shutting down, suspending or idling away while an upgrade writes
// to the router: a flash cut short can leave a router that does not start. The controller
// takes it right before an upgrade run and gives it back when the run has ended, both on
// the upgrade worker (one thread, so that a per-thread setting such as the thread
// execution state of Windows is set and cleared where it belongs). Each view brings its
// own: the login manager's inhibitor lock over D-Bus on Linux.
class ISleepInhibitor {
public:
    // What the lock holds off, in the login manager's words, and who holds it and why.
    static constexpr const char* WHAT = "shutdown:sleep:idle";
    static constexpr const char* WHO = "kivupgrade";
    static constexpr const char* WHY = "Writing router firmware";
    static constexpr const char* MODE = "block";

    virtual ~ISleepInhibitor() = default;

    // Takes the lock. False, with `why` set to a sentence, when it cannot be had (no login
    // manager answered, or it refused); the upgrade then goes on without it. Called on the
    // upgrade worker.
    virtual bool Acquire(std::string& why) = 0;
    // Gives the lock back (nothing when none is held). Called on the upgrade worker.
    virtual void Release() = 0;
};
