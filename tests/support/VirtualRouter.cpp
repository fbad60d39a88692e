#include "tests/support/VirtualRouter.h"

#include "tests/support/Files.h"
#include "tests/support/SampleSet.h"

namespace kivtest {

::testing::AssertionResult VirtualRouter::Start()
{
    if (!SampleSet::Shared().Ok())
        return ::testing::AssertionFailure() << SampleSet::Shared().Error();
    SimOptions options;
    options.timeScale = TelnetTimeScale();
    options.transcript = m_Dir / "transcript.jsonl";
    ::testing::AssertionResult started = m_Sim.Start({}, options);
    m_Overrides.targets = {{127, 0, 0, 1}};
    m_Overrides.routerPort = m_Sim.RouterPort();
    m_Overrides.telnetPort = m_Sim.TelnetPort();
    return started;
}

std::string VirtualRouter::Images() const { return SampleSet::Shared().Family("a"); }

std::string VirtualRouter::Transcript() const { return ReadRequiredFile(m_Dir / "transcript.jsonl"); }

} // namespace kivtest
