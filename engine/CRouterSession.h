#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "diag/CDiagCaller.h"
#include "diag/CHdlcAdapter.h"
#include "log/CDownloadLog.h"
#include "platform/NonCopyable.h"
#include "wire/RouterAddress.h"

// The router a check found and everything used to talk to it: its address and MAC, the
// ports and the interface every socket to it is tied to, the download log, the TCP channel
// (with the module's DIAG calls over it) and the wireless module's mode its last hand-shake
// reported. The controller owns one and hands it to the version check, which fills it, and
// to the upgrade engine, which uses it. Only one worker uses it at a time.
class CRouterSession : public NonCopyable {
public:
    // The channel's connection gets the time-out of every write on it.
    static constexpr uint32_t CHANNEL_CONNECT_TIMEOUT_MS = CDiagCaller::WRITE_TIMEOUT_MS;

    // The download log in the temporary directory; the router port from KIV_ROUTER_PORT.
    CRouterSession();
    // The same, with the download log at `logPath`.
    explicit CRouterSession(const std::string& logPath);

    // The router discovery found.
    void SetRouter(const std::array<uint8_t, 4>& ip, const std::array<uint8_t, 6>& mac);
    const std::array<uint8_t, 4>& GetRouterIp() const { return m_RouterIp; }
    const std::array<uint8_t, 6>& GetRouterMac() const { return m_RouterMac; }
    // True once a router's address is known (not 0.0.0.0).
    bool HasRouter() const;
    // "%d.%d.%d.%d" and "%02X-%02X-%02X-%02X-%02X-%02X".
    std::string GetRouterIpText() const { return FormatIpv4(m_RouterIp); }
    std::string GetRouterMacText() const { return FormatMac(m_RouterMac); }

    // The router's UDP and TCP port, and its Telnet port.
    void SetPorts(uint16_t routerPort, uint16_t telnetPort);
    uint16_t GetRouterPort() const { return m_nRouterPort; }
    uint16_t GetTelnetPort() const { return m_nTelnetPort; }
    // The network interface every socket to the router is tied to (empty: the system chooses).
    void SetInterface(const std::string& name) { m_strInterface = name; }
    const std::string& GetInterface() const { return m_strInterface; }

    CDownloadLog& Log() { return m_Log; }
    CHdlcAdapter& Adapter() { return m_Adapter; }
    CDiagCaller& Diag() { return m_Diag; }

    // Connects the TCP channel to the router (tied to the interface) and starts its reader.
    // False when it could not connect.
    bool OpenChannel();
    // Closes the channel (a second try when the first fails).
    bool CloseChannel();

    // A DIAG hand-shake (`leadingFlag` as CDiagCaller takes it); its answer sets the module's
    // mode.
    bool HandShake(int leadingFlag);
    // The mode the module reported last: 1 in force-load (downloader) mode, 1 offline.
    void SetModuleMode(int forceLoad, int offline);
    int GetForceLoad() const { return m_bForceLoad; }
    int GetOffline() const { return m_bOffline; }

private:
    CHdlcAdapter m_Adapter;
    std::array<uint8_t, 6> m_RouterMac{};
    std::array<uint8_t, 4> m_RouterIp{};
    int m_bForceLoad = 0;
    int m_bOffline = 0;
    CDownloadLog m_Log;
    CDiagCaller m_Diag;
    uint16_t m_nRouterPort;
    uint16_t m_nTelnetPort = TELNET_PORT;
    std::string m_strInterface;
};
