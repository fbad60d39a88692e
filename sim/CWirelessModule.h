#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/CDownloadTracker.h"

class CSimConfig;
class CTranscript;

// The wireless module behind the router: its normal firmware (DIAG commands, offline
// mode, NV backup and restore) and its downloader (unlock, block writes, reset), with the
// restart in between during which it answers nothing. All calls come from the simulator's
// one service thread.
class CWirelessModule {
public:
    enum class Mode { Normal, Downloader, Restarting, Gone };

    // One answer payload (not yet framed), and how much longer than the drawn latency it
    // waits before it goes out; answers never overtake each other.
    struct Reply {
        std::vector<uint8_t> payload;
        uint32_t delayMs = 0;
    };
    using Answers = std::vector<Reply>;

    // How long the answer to the request that releases a held-back acknowledgement waits
    // behind it (late-ack fault), so that the tool meets the late one first.
    static constexpr uint32_t LATE_ACK_LEAD_MS = 500;

    CWirelessModule(const CSimConfig& config, CTranscript& transcript);

    // One payload from the tool on connection `conn`; the module's answers (payloads, not
    // yet framed) are appended to `answers`.
    void HandlePayload(uint32_t conn, const uint8_t* payload, size_t length, Answers& answers);

    // Router control records.
    void EnterForceLoad();
    void LeaveForceLoad();
    // The router answers its ready probe only while the module is up.
    bool IsUp();

    // Ends a restart whose time has come. `now` is the scaled tick count.
    void Tick(uint32_t now);
    // Ticks until the next thing happens by itself, or -1.
    int64_t MsUntilNextEvent(uint32_t now) const;

    Mode GetMode();
    bool IsOffline() const { return m_bOffline; }
    bool IsForced() const { return m_bForced; }
    const std::string& FirmwareVersion() const { return m_strFirmware; }
    const std::string& DashboardVersion() const { return m_strDashboard; }

    static const char* ModeName(Mode mode);

private:
    void Answer(Answers& answers, std::vector<uint8_t> payload);
    void ErrorAnswer(Answers& answers, uint8_t code, const uint8_t* request, size_t length);
    void Nak(Answers& answers, uint16_t reason);
    void Violation(const std::string& what, const uint8_t* payload, size_t length);
    void Restart(Mode after, const char* why);
    void ReportDownload();
    void ReleaseLateAck(const uint8_t* p, size_t n, Answers& answers, uint32_t& lead);
    uint32_t RestartTime() const;
    void SetMode(Mode mode, const char* why);

    void HandleNormal(const uint8_t* p, size_t n, Answers& answers);
    void HandleDownloader(const uint8_t* p, size_t n, Answers& answers);
    bool HandleHandShake(const uint8_t* p, size_t n, Answers& answers);
    void HandleSubsystem(const uint8_t* p, size_t n, Answers& answers);
    void HandleNv(const uint8_t* p, size_t n, Answers& answers);
    void HandleUnlock(const uint8_t* p, size_t n, Answers& answers);
    void HandleBlockWrite(const uint8_t* p, size_t n, Answers& answers);
    void HandleReset(Answers& answers);
    bool CheckLength(const uint8_t* p, size_t n, size_t expected, const char* name);

    const CSimConfig& m_Config;
    CTranscript& m_Transcript;
    uint32_t m_nConn = 0;

    Mode m_Mode = Mode::Normal;
    Mode m_ModeAfterRestart = Mode::Normal;
    uint32_t m_nRestartDone = 0;
    bool m_bOffline = false;
    bool m_bForced = false;
    bool m_bForceLoadSeen = false; // cures the no-handshake fault for good
    bool m_bUnlocked = false;
    bool m_bHasBackup = false;
    bool m_bRestored = false; // an NV restore took place at the last start
    bool m_bFirmwareWritten = false;
    uint32_t m_nUnlockRequests = 0;
    uint32_t m_nWriteRequests = 0;
    bool m_bLateAckHeld = false; // late-ack: a block acknowledgement held back
    uint32_t m_nLateAckAddress = 0;
    uint32_t m_nLateAckConn = 0;
    std::string m_strFirmware;
    std::string m_strDashboard;
    std::map<uint16_t, std::vector<uint8_t>> m_NvItems;
    CDownloadTracker m_Download;
};
