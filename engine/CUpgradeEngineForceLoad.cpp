// Force-load mode of the wireless module and the router ready probe, all as UDP control
// records echoed by the router.
#include "engine/CUpgradeEngine.h"

#include "diag/CUdpHdlc.h"
#include "platform/Clock.h"

namespace {

constexpr uint32_t AFTER_ENTER_PAUSE_MS = 2000;
constexpr uint32_t PROBE_INTERVAL_MS = 2000;

} // namespace

bool CUpgradeEngine::EnterForceLoad()
{
    SetStatusText("Enter Forcing Download Mode ...", COLOUR_RUNNING);
    if (!ExchangeRecord(UDP_ENTER_FORCE_LOAD, FORCE_LOAD_TIMEOUT_MS))
        return false;
    Pause(AFTER_ENTER_PAUSE_MS);
    m_bForceLoadEntered = 1;
    return true;
}

bool CUpgradeEngine::LeaveForceLoad()
{
    LogPrintf(m_Log, "Leave Forcing Download Mode ...");
    return ExchangeRecord(UDP_LEAVE_FORCE_LOAD, FORCE_LOAD_TIMEOUT_MS);
}

bool CUpgradeEngine::WaitRouterReady(uint32_t limitMs)
{
    const uint32_t start = GetTickCount();
    CUdpHdlc udp(m_Session.GetRouterIp().data(), m_Session.GetRouterPort(), m_Session.GetInterface());
    udp.m_Request.Clear();
    udp.m_Request.SetType(UDP_READY_PROBE);
    udp.m_Request.SetIp(m_Session.GetRouterIp().data());
    udp.m_Request.SetMac(m_Session.GetRouterMac().data());
    for (;;) {
        Pause(PROBE_INTERVAL_MS);
        if (udp.Exchange(READY_PROBE_TIMEOUT_MS))
            return true;
        if (TicksSince(start) > limitMs)
            return false;
    }
}
