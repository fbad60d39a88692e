// A send the system refuses, as the log names it (the refusal stands in front of the C
// library's sendto, so this is POSIX only).
#include <cstring>

#include "tests/support/EngineSimFixture.h"
#include "tests/support/SendRefusal.h"

namespace {

using Fault = kivtest::EngineSimFixture;

// Linux refuses a send that a firewall rule drops with EPERM, the number a purge request
// has among the wait codes: the log says what refused it.
TEST_F(Fault, RouterDataRefusedByTheSystemIsLoggedAsSuch)
{
    ASSERT_TRUE(m_Table.Load({0}));
    StartSim();
    // The router data only: the control packets (40 bytes) still go out.
    kivtest::SendRefusal refusal(m_pSim->RouterPort(), CUpgradeEngine::ROUTER_CHUNK_SIZE);
    RunUpgrade();

    EXPECT_GE(refusal.Refused(), 1);
    ExpectFailureRow(0, "Failed to transmit upgrading data of router module");
    EXPECT_NE(m_Log.find(std::string("Router Block1 Transfer Fail: ") + std::strerror(EPERM)), std::string::npos)
        << m_Log;
    EXPECT_EQ(m_Log.find("purge"), std::string::npos) << m_Log;
    ExpectRunEnd(false);
}

} // namespace
