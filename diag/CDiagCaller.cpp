#include "diag/CDiagCaller.h"

#include <algorithm>
#include <cstring>

#include "diag/CHdlcAdapter.h"
#include "diag/DiagProtocol.h"
#include "log/CDownloadLog.h"
#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "platform/TextCodec.h"

namespace {

using namespace DiagProtocol;

constexpr uint8_t FILLER = 0xCD;

bool IsTextStop(uint8_t b) { return b == 0x0D || b == 0x0A || b == 0x00 || b == 0xFF; }

std::string ScanText(const uint8_t* response, uint32_t start, uint32_t end)
{
    uint32_t index = start;
    while (index < end && !IsTextStop(response[index]))
        ++index;
    return MakePrintable(response + start, index - start);
}

// 4B <subsystem> <command, low byte first>, zeros up to the request's length
DiagRequest SubsystemRequest(const SubsystemCommand& command)
{
    DiagRequest request;
    request.bytes[0] = DIAG_SUBSYS_CMD;
    request.bytes[1] = command.subsystem;
    WriteLe16(request.bytes + 2, command.command);
    request.length = command.requestLength;
    request.expectedLength = command.answerLength;
    return request;
}

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
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (!m_pAdapter->Write(0, request, length, leadingFlag, kWriteTimeoutMs)) {
            LogPrintf(m_pLog, "Execute#%d> Write Fail", attempt);
            Sleep(kRetryPauseMs);
            continue;
        }
        std::memset(m_Response, FILLER, sizeof(m_Response));
        m_ResponseLength = 0;
        if (!m_pAdapter->Read(m_Response, kResponseSize, &m_ResponseLength, 0, readTimeoutMs)) {
            LogPrintf(m_pLog, "Execute#%d> Read Fail", attempt);
            Sleep(kRetryPauseMs);
            continue;
        }
        const uint8_t code = m_Response[0];
        if (IsStopCode(code)) {
            LogPrintf(m_pLog, "Execute#%d> %02X", attempt, code);
            return false;
        }
        if (IsRetryCode(code)) {
            LogPrintf(m_pLog, "Execute#%d> (%02X %02X %02X)", attempt, code, m_Response[1], m_Response[2]);
            Sleep(kRetryPauseMs);
            continue;
        }
        if (expectedLength != 0 && expectedLength != m_ResponseLength) {
            LogPrintf(m_pLog, "CDiagCaller::Execute> Response's Length Error(Expect:%d Actual:%d)",
                      int(expectedLength), int(m_ResponseLength));
            Sleep(kRetryPauseMs);
            continue;
        }
        return true;
    }
    return false;
}

bool CDiagCaller::ExecuteRequest(const DiagRequest& request, int leadingFlag, uint32_t readTimeoutMs)
{
    return Execute(request.bytes, request.length, request.expectedLength, leadingFlag, readTimeoutMs);
}

std::string CDiagCaller::ParseBoardVersion(const uint8_t* response)
{
    return ScanText(response, BOARD_TEXT_START, BOARD_TEXT_END);
}

bool CDiagCaller::ParseISOVersion(const uint8_t* response, std::string* version)
{
    if (response[ISO_FLAG_OFFSET] != 0) {
        if (version != nullptr)
            *version = "No version";
        return false;
    }
    if (version != nullptr)
        *version = ScanText(response, ISO_TEXT_START, ISO_TEXT_END);
    return true;
}

bool CDiagCaller::DIAG_QueryBoardVersion(std::string* version)
{
    DiagRequest request = SubsystemRequest(BOARD_VERSION);
    SetPattern(request.bytes, SUBSYS_HEADER_LENGTH);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_QueryBoardVersion: Write or Read Fail");
        if (version != nullptr)
            *version = "Failed to read";
        return false;
    }
    const std::string text = ParseBoardVersion(m_Response);
    if (version != nullptr)
        *version = text;
    LogPrintf(m_pLog, "Firmware Version: %s", text.c_str());
    return true;
}

bool CDiagCaller::DIAG_QueryISOVersion(std::string* version)
{
    DiagRequest request = SubsystemRequest(ISO_VERSION);
    SetPattern(request.bytes, SUBSYS_HEADER_LENGTH);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_QueryISOVersion: Write or Read Fail");
        if (version != nullptr)
            *version = "Failed to read";
        return false;
    }
    std::string text;
    if (ParseISOVersion(m_Response, &text))
        LogPrintf(m_pLog, "Dashboard Version: %s", text.c_str());
    if (version != nullptr)
        *version = text;
    return true;
}

bool CDiagCaller::DIAG_SwitchToDownloader()
{
    DiagRequest request;
    request.bytes[0] = DIAG_SWITCH_DOWNLOADER;
    request.length = 1;
    request.expectedLength = 1;
    SetPattern(request.bytes, 1);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_SwitchToDownloader: Write or Read Fail");
        return false;
    }
    return true;
}

bool CDiagCaller::InterpretBackupRestore(const uint8_t* response, int backupFlag, CDownloadLog* log)
{
    if (response[BACKUP_RESULT_OFFSET] == 0 && response[BACKUP_RESULT_CODE_OFFSET] == 0)
        return true;
    const char* name = backupFlag == 1 ? "Backup NV" : "Restore NV";
    switch (response[BACKUP_RESULT_CODE_OFFSET]) {
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
    const uint8_t restore = backupFlag == 1 ? 0 : 1;
    DiagRequest request = SubsystemRequest(NV_BACKUP_RESTORE);
    request.bytes[BACKUP_RESTORE_FLAG_OFFSET] = restore;
    request.bytes[BACKUP_RESTORE_FLAG_OFFSET + 1] = restore;
    SetPattern(request.bytes, SUBSYS_HEADER_LENGTH);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "%s: Write or Read Fail", backupFlag == 1 ? "Backup NV" : "Restore NV");
        return false;
    }
    return InterpretBackupRestore(m_Response, backupFlag, m_pLog);
}

bool CDiagCaller::InterpretRestoreStatus(const uint8_t* response, CDownloadLog* log)
{
    if (response[RESTORE_DONE_OFFSET] == 0) {
        LogPrintf(log, "DIAG_NV_QueryRestoreStatus: No Backup to Restore");
        return true;
    }
    if (response[RESTORE_DONE_OFFSET] == 1 && response[RESTORE_RESULT_OFFSET] == 0) {
        LogPrintf(log, "DIAG_NV_QueryRestoreStatus: Restore Success");
        return true;
    }
    LogPrintf(log, "DIAG_NV_QueryRestoreStatus: Restore Fail");
    return false;
}

bool CDiagCaller::DIAG_NV_QueryRestoreStatus()
{
    DiagRequest request = SubsystemRequest(NV_RESTORE_STATUS);
    SetPattern(request.bytes, SUBSYS_HEADER_LENGTH);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_NV_QueryRestoreStatus: Write or Read Fail");
        return false;
    }
    return InterpretRestoreStatus(m_Response, m_pLog);
}

bool CDiagCaller::DIAG_Unlock(const uint8_t code[8])
{
    uint8_t request[UNLOCK_REQUEST_LENGTH] = {DL_UNLOCK};
    std::memcpy(request + 1, code, UNLOCK_CODE_LENGTH);
    const uint8_t ack = DL_ACK;
    SetPattern(&ack, 1);
    if (m_pAdapter != nullptr) {
        const uint8_t preamble = DL_PREAMBLE;
        m_pAdapter->Write(0, &preamble, 1, 1, kWriteTimeoutMs); // result deliberately ignored
    }
    if (!Execute(request, sizeof(request), 1, 1, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_Unlock: Write or Read Fail");
        return false;
    }
    return true;
}

bool CDiagCaller::InterpretHandShake(const uint8_t* response, uint32_t length, int* forceLoad, int* offline,
                                     CDownloadLog* log)
{
    if (length < HANDSHAKE_MIN_ANSWER) {
        LogPrintf(log, "DIAG_HandShake: Response Length = %d (too short)", int(length));
        return false;
    }
    const bool formatGood = response[1] == 0 && response[2] == 0 &&
                            std::memcmp(response + HANDSHAKE_MAGIC_OFFSET, HANDSHAKE_MAGIC, 4) == 0 &&
                            response[7] == 0 && response[8] == 0;
    if (!formatGood) {
        LogPrintf(log, "DIAG_HandShake: Response's format error");
        return false;
    }
    if (response[HANDSHAKE_STATUS_OFFSET] != 0) {
        LogPrintf(log, "DIAG_HandShake: status = %d", int(response[HANDSHAKE_STATUS_OFFSET]));
        return false;
    }
    const int force = response[HANDSHAKE_FORCE_LOAD_OFFSET] == 1 ? 1 : 0;
    const int off = response[HANDSHAKE_OFFLINE_OFFSET] == 1 ? 1 : 0;
    if (forceLoad != nullptr)
        *forceLoad = force;
    if (offline != nullptr)
        *offline = off;
    LogPrintf(log, "DIAG_HandShake: (%d,%d)", force, off);
    return true;
}

bool CDiagCaller::DIAG_HandShake(int leadingFlag, int* forceLoad, int* offline)
{
    if (forceLoad != nullptr)
        *forceLoad = 1;
    if (offline != nullptr)
        *offline = 1;
    DiagRequest request;
    request.bytes[0] = DIAG_NV_READ;
    std::memcpy(request.bytes + HANDSHAKE_MAGIC_OFFSET, HANDSHAKE_MAGIC, 4);
    request.length = NV_BLOCK_LENGTH;
    request.expectedLength = 0;
    SetPattern(request.bytes, HANDSHAKE_PATTERN_LENGTH);
    if (!ExecuteRequest(request, leadingFlag, kHandShakeTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_HandShake: Write or Read Fail");
        return false;
    }
    return InterpretHandShake(m_Response, m_ResponseLength, forceLoad, offline, m_pLog);
}

bool CDiagCaller::DIAG_Reset()
{
    const uint8_t ack = DL_ACK;
    SetPattern(&ack, 1);
    const uint8_t request = DL_RESET;
    if (!Execute(&request, 1, 1, 1, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_Reset: Write or Read Fail");
        return false;
    }
    return true;
}

bool CDiagCaller::DIAG_ChangeMode(uint8_t mode)
{
    DiagRequest request;
    request.bytes[0] = DIAG_CHANGE_MODE;
    request.bytes[1] = mode;
    request.length = CHANGE_MODE_LENGTH;
    request.expectedLength = CHANGE_MODE_LENGTH;
    SetPattern(request.bytes, CHANGE_MODE_LENGTH);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "DIAG_ChangeMode: Write or Read Fail");
        return false;
    }
    return true;
}

const char* CDiagCaller::NvStatusText(uint16_t status)
{
    static const char* const kTexts[] = {
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
    if (status < sizeof(kTexts) / sizeof(kTexts[0]))
        return kTexts[status];
    return "Unknown status";
}

bool CDiagCaller::InterpretNvStatus(const uint8_t* response, bool isRead, uint8_t* destination, uint32_t length,
                                    uint16_t* status, CDownloadLog* log)
{
    length = std::min(length, NV_DATA_LENGTH);
    const uint16_t code = ReadLe16(response + NV_STATUS_OFFSET);
    if (status != nullptr)
        *status = code;
    if (code == 0) {
        if (isRead && destination != nullptr)
            std::memcpy(destination, response + NV_DATA_OFFSET, length);
        return true;
    }
    LogPrintf(log, "%s: %s", isRead ? "DIAG_Read_NV" : "DIAG_Write_NV", NvStatusText(code));
    if (isRead && code == NV_STATUS_INACTIVE) {
        if (destination != nullptr)
            std::memset(destination, 0, length);
        return true;
    }
    return false;
}

bool CDiagCaller::ExecuteNv(uint8_t command, uint16_t item, const uint8_t* source, uint32_t length,
                            const char* name)
{
    DiagRequest request;
    request.bytes[0] = command;
    WriteLe16(request.bytes + NV_ITEM_OFFSET, item);
    if (source != nullptr)
        std::memcpy(request.bytes + NV_DATA_OFFSET, source, std::min(length, NV_DATA_LENGTH));
    request.length = NV_BLOCK_LENGTH;
    request.expectedLength = NV_BLOCK_LENGTH;
    SetPattern(request.bytes, NV_HEADER_LENGTH);
    if (!ExecuteRequest(request, 0, kReadTimeoutMs)) {
        LogPrintf(m_pLog, "%s: Write or Read Fail", name);
        return false;
    }
    return true;
}

bool CDiagCaller::DIAG_Read_NV(uint16_t item, uint8_t* destination, uint32_t length, uint16_t* status)
{
    if (!ExecuteNv(DIAG_NV_READ, item, nullptr, 0, "DIAG_Read_NV"))
        return false;
    return InterpretNvStatus(m_Response, true, destination, length, status, m_pLog);
}

bool CDiagCaller::DIAG_Write_NV(uint16_t item, const uint8_t* source, uint32_t length, uint16_t* status)
{
    if (!ExecuteNv(DIAG_NV_WRITE, item, source, length, "DIAG_Write_NV"))
        return false;
    return InterpretNvStatus(m_Response, false, nullptr, 0, status, m_pLog);
}

bool CDiagCaller::DIAG_Write(uint32_t frameLength)
{
    if (m_pAdapter == nullptr)
        return false;
    uint8_t* frame = m_pAdapter->WriteBuffer();
    if (frame == nullptr || frameLength > CHdlcAdapter::kWriteBufferSize)
        return false;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (!m_pAdapter->Write(1, frame, frameLength, 0, kWriteTimeoutMs)) {
            LogPrintf(m_pLog, "DIAG_Write#%d> Write Fail", attempt);
            continue;
        }
        m_ResponseLength = 0;
        if (!m_pAdapter->Read(m_Response, BLOCK_ACK_LENGTH, &m_ResponseLength, 0, kBlockAckTimeoutMs)) {
            LogPrintf(m_pLog, "DIAG_Write#%d> Read Fail", attempt);
            continue;
        }
        if (m_Response[0] == DL_NAK) {
            LogPrintf(m_pLog, "DIAG_Write#%d> Exec Fail", attempt);
            continue;
        }
        return true;
    }
    return false;
}
