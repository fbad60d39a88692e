#include "engine/CRouterSession.h"

#include "net/INetPort.h"

CRouterSession::CRouterSession() : m_Diag(&m_Adapter, &m_Log), m_nRouterPort(RouterPortSetting()) {}

CRouterSession::CRouterSession(const std::string& logPath)
    : m_Log(logPath), m_Diag(&m_Adapter, &m_Log), m_nRouterPort(RouterPortSetting())
{
}

void CRouterSession::SetRouter(const std::array<uint8_t, 4>& ip, const std::array<uint8_t, 6>& mac)
{
    m_RouterIp = ip;
    m_RouterMac = mac;
}

bool CRouterSession::HasRouter() const
{
    for (uint8_t b : m_RouterIp) {
        if (b != 0)
            return true;
    }
    return false;
}

void CRouterSession::SetPorts(uint16_t routerPort, uint16_t telnetPort)
{
    m_nRouterPort = routerPort;
    m_nTelnetPort = telnetPort;
}

bool CRouterSession::OpenChannel()
{
    m_Adapter.SetInterface(m_strInterface);
    m_Adapter.SetConnectTimeout(CHANNEL_CONNECT_TIMEOUT_MS);
    if (!m_Adapter.Open(GetRouterIpText(), m_nRouterPort, INetPort::PORT_TYPE_TCP))
        return false;
    m_Diag.ForgetOwedAcks();
    m_Adapter.StartReader();
    return true;
}

bool CRouterSession::CloseChannel()
{
    if (m_Adapter.Close())
        return true;
    return m_Adapter.Close();
}

bool CRouterSession::HandShake(int leadingFlag)
{
    return m_Diag.DIAG_HandShake(leadingFlag, &m_bForceLoad, &m_bOffline);
}

void CRouterSession::SetModuleMode(int forceLoad, int offline)
{
    m_bForceLoad = forceLoad;
    m_bOffline = offline;
}
