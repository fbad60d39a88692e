#include "diag/CDiagCaller.h"

#include <algorithm>
#include <cstring>

#include "diag/CHdlcAdapter.h"
#include "log/CDownloadLog.h"
#include "platform/Clock.h"
#include "wire/DiagCodec.h"
#include "wire/DiagProtocol.h"

namespace {

using namespace DiagProtocol;

constexpr uint8_t FILLER = 0xCD;

// An interpreter's view of a full response buffer (the filler beyond the answer included).
std::span<const uint8_t> WholeBuffer(const uint8_t* response) { return {response, CDiagCaller::RESPONSE_SIZE}; }

} // namespace

CDiagCaller::CDiagCaller(CHdlcAdapter* adapter, CDownloadLog* log) : m_pAdapter(adapter), m_pLog(log) {}

void CDiagCaller::SetPattern(const uint8_t* bytes, uint32_t count)
{
    if (m_pAdapter != nullptr)
        m_pAdapter->Responses().SetMatchPattern(bytes, count);
}

bool CDiagCaller::Execute(const uint8_t* request, uint32_t length, uint32_t expectedLength, int leadingFlag,
                          uint32_t readTimeoutMs)
{
    if (m_pAdapter == nullptr)
        return false;
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        if (!m_pAdapter->Write(CHdlcAdapter::FrameWith(leadingFlag), request, length, WRITE_TIMEOUT_MS)) {
            LogPrintf(m_pLog, "Execute#%d> Write Fail", attempt);
            NoteUnanswered(readTimeoutMs);
            Sleep(RETRY_PAUSE_MS);
            continue;
        }
        std::memset(m_Response, FILLER, sizeof(m_Response));
        m_ResponseLength = 0;
        if (!m_pAdapter->Read(m_Response, RESPONSE_SIZE, &m_ResponseLength, 0, readTimeoutMs)) {
            LogPrintf(m_pLog, "Execute#%d> Read Fail", attempt);
            NoteUnanswered(readTimeoutMs);
            Sleep(RETRY_PAUSE_MS);
            continue;
        }
        const uint8_t code = m_Response[0];
        if (IsStopCode(code)) {
            LogPrintf(m_pLog, "Execute#%d> %02X", attempt, code);
            return false;
        }
        if (IsRetryCode(code)) {
            LogPrintf(m_pLog, "Execute#%d> (%02X %02X %02X)", attempt, code, m_Response[1], m_Response[2]);
            Sleep(RETRY_PAUSE_MS);
            continue;
        }
        if (expectedLength != 0 && expectedLength != m_ResponseLength) {
            LogPrintf(m_pLog, "CDiagCaller::Execute> Response's Length Error(Expect:%d Actual:%d)", int(expectedLength),
                      int(m_ResponseLength));
            Sleep(RETRY_PAUSE_MS);
            continue;
        }
        return true;
    }
    return false;
}

bool CDiagCaller::ExecuteRequest(const DiagRequest& request, int leadingFlag, uint32_t readTimeoutMs)
{
    SetPattern(request.pattern, request.patternLength);
    return Execute(request.bytes, request.length, request.expectedLength, leadingFlag, readTimeoutMs);
}

std::span<const uint8_t> CDiagCaller::Answer() const { return {m_Response, std::min(m_ResponseLength, RESPONSE_SIZE)}; }

std::string CDiagCaller::ParseBoardVersion(const uint8_t* response)
{
    return DiagCodec::BoardVersion(WholeBuffer(response));
}

bool CDiagCaller::ParseISOVersion(const uint8_t* response, std::string* version)
{
    const std::optional<std::string> text = DiagCodec::IsoVersion(WholeBuffer(response));
    if (version != nullptr)
        *version = text.value_or("No version");
    return text.has_value();
}

bool CDiagCaller::DIAG_QueryBoardVersion(std::string* version)
{
    if (!ExecuteRequest(DiagCodec::BoardVersionRequest(), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_QueryBoardVersion: Write or Read Fail");
        if (version != nullptr)
            *version = "Failed to read";
        return false;
    }
    const std::string text = DiagCodec::BoardVersion(Answer());
    if (version != nullptr)
        *version = text;
    LogPrintf(m_pLog, "Firmware Version: %s", text.c_str());
    return true;
}

bool CDiagCaller::DIAG_QueryISOVersion(std::string* version)
{
    if (!ExecuteRequest(DiagCodec::IsoVersionRequest(), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_QueryISOVersion: Write or Read Fail");
        if (version != nullptr)
            *version = "Failed to read";
        return false;
    }
    const std::optional<std::string> text = DiagCodec::IsoVersion(Answer());
    if (text)
        LogPrintf(m_pLog, "Dashboard Version: %s", text->c_str());
    if (version != nullptr)
        *version = text.value_or("No version");
    return true;
}

bool CDiagCaller::DIAG_SwitchToDownloader()
{
    if (!ExecuteRequest(DiagCodec::SwitchToDownloaderRequest(), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_SwitchToDownloader: Write or Read Fail");
        return false;
    }
    return true;
}

bool CDiagCaller::InterpretBackupRestore(const uint8_t* response, int backupFlag, CDownloadLog* log)
{
    return LogBackupRestore(DiagCodec::BackupRestore(WholeBuffer(response)), backupFlag, log);
}

bool CDiagCaller::LogBackupRestore(const DiagCodec::BackupRestoreResult& result, int backupFlag, CDownloadLog* log)
{
    if (result.done)
        return true;
    const char* name = backupFlag == 1 ? "Backup NV" : "Restore NV";
    switch (result.code) {
    case 1: LogPrintf(log, "%s: 单板状态不正确", name); break;
    case 2: LogPrintf(log, "%s: 不存在有效的备份", name); break;
    case 3: LogPrintf(log, "%s: CRC校验失败", name); break;
    case 4: LogPrintf(log, "%s: NV操作失败", name); break;
    default: break;
    }
    return false;
}

bool CDiagCaller::DIAG_NV_BackupRestore(int backupFlag)
{
    if (!ExecuteRequest(DiagCodec::BackupRestoreRequest(backupFlag == 1), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "%s: Write or Read Fail", backupFlag == 1 ? "Backup NV" : "Restore NV");
        return false;
    }
    return LogBackupRestore(DiagCodec::BackupRestore(Answer()), backupFlag, m_pLog);
}

bool CDiagCaller::InterpretRestoreStatus(const uint8_t* response, CDownloadLog* log)
{
    return LogRestoreStatus(DiagCodec::RestoreStatusOf(WholeBuffer(response)), log);
}

bool CDiagCaller::LogRestoreStatus(DiagCodec::RestoreStatus status, CDownloadLog* log)
{
    switch (status) {
    case DiagCodec::RestoreStatus::NoBackup:
        LogPrintf(log, "DIAG_NV_QueryRestoreStatus: No Backup to Restore");
        return true;
    case DiagCodec::RestoreStatus::Restored: LogPrintf(log, "DIAG_NV_QueryRestoreStatus: Restore Success"); return true;
    case DiagCodec::RestoreStatus::Failed: break;
    }
    LogPrintf(log, "DIAG_NV_QueryRestoreStatus: Restore Fail");
    return false;
}

bool CDiagCaller::DIAG_NV_QueryRestoreStatus()
{
    if (!ExecuteRequest(DiagCodec::RestoreStatusRequest(), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_NV_QueryRestoreStatus: Write or Read Fail");
        return false;
    }
    return LogRestoreStatus(DiagCodec::RestoreStatusOf(Answer()), m_pLog);
}

bool CDiagCaller::DIAG_Unlock(const uint8_t code[8])
{
    const DiagRequest request = DiagCodec::UnlockRequest(code);
    SetPattern(request.pattern, request.patternLength);
    if (m_pAdapter != nullptr) {
        const uint8_t preamble = DL_PREAMBLE;
        m_pAdapter->Write(CHdlcAdapter::WriteAs::FlaggedFrame, &preamble, 1,
                          WRITE_TIMEOUT_MS); // result deliberately ignored
    }
    if (!Execute(request.bytes, request.length, request.expectedLength, 1, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_Unlock: Write or Read Fail");
        return false;
    }
    return true;
}

bool CDiagCaller::InterpretHandShake(const uint8_t* response, uint32_t length, int* forceLoad, int* offline,
                                     CDownloadLog* log)
{
    const DiagCodec::HandShakeResult result =
        DiagCodec::HandShake({response, std::min(length, uint32_t{RESPONSE_SIZE})});
    switch (result.status) {
    case DiagCodec::HandShakeResult::Status::TooShort:
        LogPrintf(log, "DIAG_HandShake: Response Length = %d (too short)", int(length));
        return false;
    case DiagCodec::HandShakeResult::Status::BadFormat:
        LogPrintf(log, "DIAG_HandShake: Response's format error");
        return false;
    case DiagCodec::HandShakeResult::Status::BadStatus:
        LogPrintf(log, "DIAG_HandShake: status = %d", int(result.statusByte));
        return false;
    case DiagCodec::HandShakeResult::Status::Good: break;
    }
    if (forceLoad != nullptr)
        *forceLoad = result.forceLoad;
    if (offline != nullptr)
        *offline = result.offline;
    LogPrintf(log, "DIAG_HandShake: (%d,%d)", result.forceLoad, result.offline);
    return true;
}

bool CDiagCaller::DIAG_HandShake(int leadingFlag, int* forceLoad, int* offline)
{
    if (forceLoad != nullptr)
        *forceLoad = 1;
    if (offline != nullptr)
        *offline = 1;
    if (!ExecuteRequest(DiagCodec::HandShakeRequest(), leadingFlag, HAND_SHAKE_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_HandShake: Write or Read Fail");
        return false;
    }
    return InterpretHandShake(m_Response, m_ResponseLength, forceLoad, offline, m_pLog);
}

bool CDiagCaller::DIAG_Reset()
{
    if (!ExecuteRequest(DiagCodec::ResetRequest(), 1, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_Reset: Write or Read Fail");
        return false;
    }
    return true;
}

bool CDiagCaller::DIAG_ChangeMode(uint8_t mode)
{
    if (!ExecuteRequest(DiagCodec::ChangeModeRequest(mode), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "DIAG_ChangeMode: Write or Read Fail");
        return false;
    }
    return true;
}

const char* CDiagCaller::NvStatusText(uint16_t status)
{
    static const char* const TEXTS[] = {
        "",
        "Internal DMSS use",
        "Unrecognizable command",
        "NV Memory is full",
        "Command failed",
        "Variable was not active (never written)",
        "Bad parameter in command block",
        "Item was read-only",
        "Item not defined for this target",
        "Free memory exhausted",
        "Internal use",
    };
    if (status < sizeof(TEXTS) / sizeof(TEXTS[0]))
        return TEXTS[status];
    return "Unknown status";
}

bool CDiagCaller::InterpretNvStatus(const uint8_t* response, bool isRead, uint8_t* destination, uint32_t length,
                                    uint16_t* status, CDownloadLog* log)
{
    return LogNvStatus(WholeBuffer(response), isRead, destination, length, status, log);
}

bool CDiagCaller::LogNvStatus(std::span<const uint8_t> answer, bool isRead, uint8_t* destination, uint32_t length,
                              uint16_t* status, CDownloadLog* log)
{
    const uint16_t code = DiagCodec::NvStatus(answer);
    if (status != nullptr)
        *status = code;
    if (code == NV_STATUS_DONE) {
        if (isRead && destination != nullptr)
            DiagCodec::NvData(answer, destination, length);
        return true;
    }
    LogPrintf(log, "%s: %s", isRead ? "DIAG_Read_NV" : "DIAG_Write_NV", NvStatusText(code));
    if (isRead && code == NV_STATUS_INACTIVE) {
        if (destination != nullptr)
            std::memset(destination, 0, std::min(length, NV_DATA_LENGTH));
        return true;
    }
    return false;
}

bool CDiagCaller::ExecuteNv(uint8_t command, uint16_t item, const uint8_t* source, uint32_t length, const char* name)
{
    if (!ExecuteRequest(DiagCodec::NvRequest(command, item, source, length), 0, READ_TIMEOUT_MS)) {
        LogPrintf(m_pLog, "%s: Write or Read Fail", name);
        return false;
    }
    return true;
}

bool CDiagCaller::DIAG_Read_NV(uint16_t item, uint8_t* destination, uint32_t length, uint16_t* status)
{
    if (!ExecuteNv(DIAG_NV_READ, item, nullptr, 0, "DIAG_Read_NV"))
        return false;
    return LogNvStatus(Answer(), true, destination, length, status, m_pLog);
}

bool CDiagCaller::DIAG_Write_NV(uint16_t item, const uint8_t* source, uint32_t length, uint16_t* status)
{
    if (!ExecuteNv(DIAG_NV_WRITE, item, source, length, "DIAG_Write_NV"))
        return false;
    return LogNvStatus(Answer(), false, nullptr, 0, status, m_pLog);
}

bool CDiagCaller::DIAG_Write(uint32_t frameLength)
{
    if (m_pAdapter == nullptr)
        return false;
    uint8_t* frame = m_pAdapter->WriteBuffer();
    if (frame == nullptr || frameLength > CHdlcAdapter::WRITE_BUFFER_SIZE)
        return false;
    for (OwedAnswer& owed : m_Owed)
        owed.thisBlock = false; // a new block: what earlier tries are owed is owed elsewhere now
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        if (!m_pAdapter->Write(CHdlcAdapter::WriteAs::Raw, frame, frameLength, WRITE_TIMEOUT_MS)) {
            LogPrintf(m_pLog, "DIAG_Write#%d> Write Fail", attempt);
            NoteUnanswered(BLOCK_ACK_TIMEOUT_MS, true); // part of the frame may have gone out after all
            continue;
        }
        if (!ReadBlockAck(attempt)) {
            LogPrintf(m_pLog, "DIAG_Write#%d> Read Fail", attempt);
            NoteUnanswered(BLOCK_ACK_TIMEOUT_MS, true);
            continue;
        }
        if (DiagCodec::IsRefusal(Answer())) {
            LogPrintf(m_pLog, "DIAG_Write#%d> Exec Fail", attempt);
            continue;
        }
        return true;
    }
    return false;
}

void CDiagCaller::NoteUnanswered(uint32_t windowMs, bool thisBlock)
{
    if (m_pAdapter == nullptr || !m_pAdapter->Responses().IsAcknowledgementMode())
        return;
    DropExpired();
    if (m_Owed.size() >= MAX_OWED)
        m_Owed.erase(m_Owed.begin());
    m_Owed.push_back(OwedAnswer{GetTickCount(), windowMs, thisBlock});
}

void CDiagCaller::DropExpired()
{
    std::erase_if(m_Owed, [](const OwedAnswer& owed) { return TicksSince(owed.since) >= owed.windowMs; });
}

uint32_t CDiagCaller::AcksOwed() const
{
    return static_cast<uint32_t>(std::count_if(m_Owed.begin(), m_Owed.end(), [](const OwedAnswer& owed) {
        return TicksSince(owed.since) < owed.windowMs;
    }));
}

void CDiagCaller::ForgetOwedAcks()
{
    m_Owed.clear();
    if (m_pAdapter != nullptr)
        m_nBareAcksSeen = m_pAdapter->Responses().GetBareAckCount();
}

bool CDiagCaller::TakeBareAcks(uint32_t arrived, SetAside& aside)
{
    DropExpired();
    // The oldest owed answer is the first to come, if it comes at all.
    while (arrived > 0) {
        auto owed = std::find_if(m_Owed.begin(), m_Owed.end(), [](const OwedAnswer& o) { return !o.thisBlock; });
        if (owed == m_Owed.end())
            break;
        const uint32_t left = owed->windowMs - TicksSince(owed->since);
        if (aside.count == 0 || left > aside.windowMs - TicksSince(aside.since)) {
            aside.since = owed->since;
            aside.windowMs = owed->windowMs;
        }
        ++aside.count;
        m_Owed.erase(owed);
        --arrived;
    }
    if (arrived == 0)
        return false;
    SettleThisBlock(arrived);
    return true;
}

void CDiagCaller::SettleThisBlock(uint32_t answers)
{
    // Every try of this block, this one included, less the answers that came: those may still
    // come, and are owed for one more wait from now.
    const auto tries = static_cast<uint32_t>(std::count_if(m_Owed.begin(), m_Owed.end(),
                                                           [](const OwedAnswer& o) { return o.thisBlock; })) +
                       1;
    std::erase_if(m_Owed, [](const OwedAnswer& o) { return o.thisBlock; });
    for (uint32_t i = answers; i < tries; ++i)
        m_Owed.push_back(OwedAnswer{GetTickCount(), BLOCK_ACK_TIMEOUT_MS, true});
}

bool CDiagCaller::ReadBlockAck(int attempt)
{
    const uint32_t start = GetTickCount();
    SetAside aside;
    for (;;) {
        uint32_t wait = 0;
        if (aside.count > 0) {
            const uint32_t passed = TicksSince(aside.since);
            if (passed >= aside.windowMs) {
                // The answers those bare acknowledgements were taken for are due no longer:
                // one of them was this try's own.
                LogPrintf(m_pLog, "DIAG_Write#%d> Ambiguous Ack Taken", attempt);
                m_Response[0] = DL_ACK;
                m_ResponseLength = 1;
                SettleThisBlock(1);
                return true;
            }
            wait = aside.windowMs - passed;
        }
        const uint32_t elapsed = TicksSince(start);
        if (elapsed >= BLOCK_ACK_TIMEOUT_MS)
            return false;
        wait = wait == 0 ? BLOCK_ACK_TIMEOUT_MS - elapsed : std::min(wait, BLOCK_ACK_TIMEOUT_MS - elapsed);
        m_ResponseLength = 0;
        const uint32_t readStart = GetTickCount();
        if (!m_pAdapter->Read(m_Response, BLOCK_ACK_LENGTH, &m_ResponseLength, 0, wait)) {
            // A wait cut short by the window of a set-aside answer: the top of the loop
            // decides. Any other failure ends this try.
            if (aside.count > 0 && TicksSince(readStart) >= wait)
                continue;
            return false;
        }
        // A negative answer, and one that names the block, say what they are about.
        if (m_Response[0] != DL_ACK || m_ResponseLength >= BLOCK_ACK_LENGTH)
            return true;
        // Bare acknowledgements that arrived since the last count (also those the queue let go
        // with an answer that came after them).
        const uint32_t count = m_pAdapter->Responses().GetBareAckCount();
        const uint32_t arrived = count - m_nBareAcksSeen;
        m_nBareAcksSeen = count;
        if (TakeBareAcks(arrived, aside))
            return true;
        LogPrintf(m_pLog, "DIAG_Write#%d> Ambiguous Ack Ignored", attempt);
    }
}
