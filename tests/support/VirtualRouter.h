#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/RouterOverrides.h"
#include "tests/support/ScopedTimeScale.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TimeScale.h"

namespace kivtest {

// kivrouter-sim on loopback with ports of its own choosing, and the shared sample images of
// family A, for a controller (the window's or the dialog's) to check and upgrade against. A
// check reads Telnet replies, so this process and the simulator run at the Telnet pace
// while the router lives; the simulator must end with exit status 0 (SimProcess).
class VirtualRouter {
public:
    ::testing::AssertionResult Start();
    // Where the controller finds the router.
    const RouterOverrides& Overrides() const { return m_Overrides; }
    // The sample images of family A.
    std::string Images() const;
    // What the simulator's transcript holds so far (a failure when it was never written).
    std::string Transcript() const;

private:
    TempDir m_Dir{"kiv-router"};
    ScopedTimeScale m_Scale{TelnetTimeScale()};
    SimProcess m_Sim;
    RouterOverrides m_Overrides;
};

} // namespace kivtest
