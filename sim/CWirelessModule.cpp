#include "sim/CWirelessModule.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "sim/CSimConfig.h"
#include "sim/CTranscript.h"
#include "wire/DiagCodec.h"
#include "wire/DiagProtocol.h"
#include "wire/DiagRequestName.h"

namespace {

using namespace DiagProtocol;

constexpr size_t MAX_NV_ITEMS = 64;
constexpr size_t MAX_ERROR_ECHO = 140;

void PutText(std::vector<uint8_t>& out, size_t offset, const std::string& text, size_t room)
{
    const size_t n = std::min(text.size(), room);
    std::memcpy(out.data() + offset, text.data(), n);
}

} // namespace

CWirelessModule::CWirelessModule(const CSimConfig& config, CTranscript& transcript)
    : m_Config(config), m_Transcript(transcript), m_strFirmware(config.firmwareVersion),
      m_strDashboard(config.dashboardVersion)
{
    m_bOffline = config.offline;
    if (config.forceLoad) {
        m_bForced = true;
        m_bForceLoadSeen = true;
        m_Mode = Mode::Downloader;
    }
}

const char* CWirelessModule::ModeName(Mode mode)
{
    switch (mode) {
    case Mode::Normal: return "normal";
    case Mode::Downloader: return "downloader";
    case Mode::Restarting: return "restarting";
    case Mode::Gone: return "gone";
    }
    return "?";
}

CWirelessModule::Mode CWirelessModule::GetMode()
{
    Tick(GetTickCount());
    return m_Mode;
}

void CWirelessModule::SetMode(Mode mode, const char* why)
{
    if (mode != m_Mode)
        m_Transcript.Event("module", m_nConn, "mode",
                           {{"from", ModeName(m_Mode)}, {"to", ModeName(mode)}, {"why", why}});
    m_Mode = mode;
}

uint32_t CWirelessModule::RestartTime() const
{
    return m_Config.faults.Has(Fault::SlowRestart) ? m_Config.faults.Number(Fault::SlowRestart)
                                                   : m_Config.restartTimeMs;
}

void CWirelessModule::Restart(Mode after, const char* why)
{
    m_ModeAfterRestart = after;
    m_nRestartDone = GetTickCount() + RestartTime();
    m_bUnlocked = false;
    m_bOffline = false;
    m_bLateAckHeld = false; // a restart forgets every answer it still owed
    ReportDownload();
    m_Download.Reset();
    SetMode(Mode::Restarting, why);
}

void CWirelessModule::ReportDownload()
{
    nlohmann::json extents = nlohmann::json::array();
    for (const CBlockMemory::Extent& extent : m_Download.Extents())
        extents.push_back({{"address", extent.address}, {"length", extent.length}, {"digest", extent.digest}});
    if (m_Download.IsComplete()) {
        // The new image runs from the next start; the firmware's start restores the NV.
        if (m_Download.LooksLikeDashboard()) {
            m_strDashboard = m_Download.Version();
        } else {
            m_strFirmware = m_Download.Version();
            m_bFirmwareWritten = true;
        }
        m_Transcript.Event("module", m_nConn, "image complete",
                           {{"version", m_Download.Version()},
                            {"units", m_Download.Units()},
                            {"bytes", m_Download.Bytes()},
                            {"image", m_Download.LooksLikeDashboard() ? "dashboard" : "firmware"},
                            {"extents", extents},
                            {"verifiable", m_Download.IsVerifiable()}});
    } else if (m_Download.Units() != 0) {
        m_Transcript.Event("module", m_nConn, "image incomplete: versions unchanged",
                           {{"marker", m_Download.HasMarker()},
                            {"bytes", m_Download.Bytes()},
                            {"extents", extents},
                            {"verifiable", m_Download.IsVerifiable()}});
    }
}

void CWirelessModule::Tick(uint32_t now)
{
    if (m_Mode != Mode::Restarting || static_cast<int32_t>(now - m_nRestartDone) < 0)
        return;
    // The restart faults hit the start after a reset (into normal mode), not the switch into
    // the downloader.
    Mode next = m_ModeAfterRestart;
    if (next == Mode::Normal && m_Config.faults.Has(Fault::ModuleNotBack))
        next = Mode::Gone;
    else if (next == Mode::Normal && (m_bForced || m_Config.faults.Has(Fault::StillInDownloader)))
        next = Mode::Downloader;
    if (next == Mode::Normal) {
        m_bRestored = m_bFirmwareWritten && m_bHasBackup;
        m_bFirmwareWritten = false;
    }
    SetMode(next, "restart done");
}

int64_t CWirelessModule::MsUntilNextEvent(uint32_t now) const
{
    if (m_Mode != Mode::Restarting)
        return -1;
    const int32_t left = static_cast<int32_t>(m_nRestartDone - now);
    return left < 0 ? 0 : left;
}

bool CWirelessModule::IsUp()
{
    const Mode mode = GetMode();
    return mode == Mode::Normal || mode == Mode::Downloader;
}

void CWirelessModule::EnterForceLoad()
{
    m_bForced = true;
    m_bForceLoadSeen = true;
    Tick(GetTickCount());
    if (m_Mode == Mode::Restarting) {
        m_ModeAfterRestart = Mode::Downloader;
        return;
    }
    if (m_Mode == Mode::Gone)
        return;
    m_bUnlocked = false;
    m_bOffline = false;
    SetMode(Mode::Downloader, "force-load entered");
}

void CWirelessModule::LeaveForceLoad()
{
    // The router lets go of the module; it stays where it is until its next start.
    m_bForced = false;
}

void CWirelessModule::Answer(Answers& answers, std::vector<uint8_t> payload)
{
    answers.push_back(Reply{std::move(payload), 0});
}

void CWirelessModule::ErrorAnswer(Answers& answers, uint8_t code, const uint8_t* request, size_t length)
{
    std::vector<uint8_t> answer{code};
    answer.insert(answer.end(), request, request + std::min(length, MAX_ERROR_ECHO));
    Answer(answers, std::move(answer));
}

void CWirelessModule::Nak(Answers& answers, uint16_t reason)
{
    std::vector<uint8_t> answer(DL_NAK_LENGTH, DL_NAK);
    WriteBe16(answer.data() + 1, reason);
    Answer(answers, std::move(answer));
}

void CWirelessModule::Violation(const std::string& what, const uint8_t* payload, size_t length)
{
    m_Transcript.Violation("tcp", m_nConn, what, payload, length);
}

bool CWirelessModule::CheckLength(const uint8_t* p, size_t n, size_t expected, const char* name)
{
    if (n == expected)
        return true;
    Violation(std::string(name) + ": request of " + std::to_string(n) + " bytes, expected " + std::to_string(expected),
              p, n);
    return false;
}

void CWirelessModule::HandlePayload(uint32_t conn, const uint8_t* payload, size_t length, Answers& answers)
{
    m_nConn = conn;
    const Mode mode = GetMode();
    if (length == 0)
        return;
    if (length == 1 && payload[0] == DIAG_NV_READ)
        return; // the wake-up frame sent ahead of an unlock: no answer expected
    if (mode == Mode::Restarting || mode == Mode::Gone) {
        m_Transcript.Event("module", conn, "request ignored: module not running", {{"mode", ModeName(mode)}});
        return;
    }
    uint32_t lead = 0;
    ReleaseLateAck(payload, length, answers, lead);
    const size_t first = answers.size();
    if (payload[0] != DIAG_NV_READ || !HandleHandShake(payload, length, answers)) {
        if (mode == Mode::Downloader)
            HandleDownloader(payload, length, answers);
        else
            HandleNormal(payload, length, answers);
    }
    for (size_t i = first; i < answers.size(); ++i)
        answers[i].delayMs += lead;
}

void CWirelessModule::ReleaseLateAck(const uint8_t* p, size_t n, Answers& answers, uint32_t& lead)
{
    if (!m_bLateAckHeld)
        return;
    if (m_nLateAckConn != m_nConn) {
        m_bLateAckHeld = false; // that connection is gone, and the answer with it
        return;
    }
    // Another write of the same block may still be the tool waiting for it; anything else
    // means that the tool has given up waiting and gone on.
    if (p[0] == DL_WRITE && n >= BLOCK_LENGTH_OFFSET && ReadBe32(p + BLOCK_ADDRESS_OFFSET) == m_nLateAckAddress)
        return;
    m_bLateAckHeld = false;
    m_Transcript.Event("module", m_nConn, "held-back block acknowledgement sent (fault late-ack)",
                       {{"address", m_nLateAckAddress}, {"before", DiagRequestName::Of({p, n})}});
    answers.push_back(Reply{{DL_ACK}, 0});
    lead = LATE_ACK_LEAD_MS;
}

bool CWirelessModule::HandleHandShake(const uint8_t* p, size_t n, Answers& answers)
{
    if (!DiagCodec::IsHandShakeRequest({p, n}))
        return false;
    if (!CheckLength(p, n, NV_BLOCK_LENGTH, "hand-shake"))
        return true; // not answered: the tool's request is malformed
    if (m_Config.faults.Has(Fault::NoHandshake) && !m_bForceLoadSeen) {
        m_Transcript.Event("module", m_nConn, "hand-shake ignored (fault no-handshake)");
        return true;
    }
    std::vector<uint8_t> answer(p, p + NV_BLOCK_LENGTH);
    const bool downloader = m_Mode == Mode::Downloader;
    answer[HANDSHAKE_STATUS_OFFSET] = 0;
    answer[HANDSHAKE_FORCE_LOAD_OFFSET] = downloader ? 1 : 0;
    answer[HANDSHAKE_OFFLINE_OFFSET] = (downloader || m_bOffline) ? 1 : 0;
    answer[NV_STATUS_OFFSET] = 0;
    answer[NV_STATUS_OFFSET + 1] = 0;
    Answer(answers, std::move(answer));
    return true;
}

void CWirelessModule::HandleNormal(const uint8_t* p, size_t n, Answers& answers)
{
    switch (p[0]) {
    case DIAG_SUBSYS_CMD: HandleSubsystem(p, n, answers); return;
    case DIAG_NV_READ:
    case DIAG_NV_WRITE: HandleNv(p, n, answers); return;
    case DIAG_CHANGE_MODE:
        if (!CheckLength(p, n, CHANGE_MODE_LENGTH, "change mode")) {
            ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
            return;
        }
        m_bOffline = p[1] == MODE_OFFLINE;
        m_Transcript.Event("module", m_nConn, m_bOffline ? "offline mode" : "online mode", {{"mode", p[1]}});
        Answer(answers, {p[0], p[1], p[2]});
        return;
    case DIAG_SWITCH_DOWNLOADER:
        if (!CheckLength(p, n, 1, "switch to downloader"))
            return;
        Answer(answers, {DIAG_SWITCH_DOWNLOADER});
        Restart(Mode::Downloader, "switch to downloader");
        return;
    case DL_WRITE:
        Violation("block write while the module runs its normal firmware", p, n);
        Nak(answers, NAK_NOT_DOWNLOADER);
        return;
    default: ErrorAnswer(answers, ERR_BAD_COMMAND, p, n); return;
    }
}

void CWirelessModule::HandleDownloader(const uint8_t* p, size_t n, Answers& answers)
{
    switch (p[0]) {
    case DL_UNLOCK: HandleUnlock(p, n, answers); return;
    case DL_WRITE: HandleBlockWrite(p, n, answers); return;
    case DL_RESET:
        if (CheckLength(p, n, 1, "reset"))
            HandleReset(answers);
        return;
    case DIAG_SWITCH_DOWNLOADER: Answer(answers, {DIAG_SWITCH_DOWNLOADER}); return;
    default: ErrorAnswer(answers, ERR_BAD_COMMAND, p, n); return;
    }
}

void CWirelessModule::HandleSubsystem(const uint8_t* p, size_t n, Answers& answers)
{
    if (n < 4) {
        Violation("subsystem request shorter than 4 bytes", p, n);
        ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
        return;
    }
    const uint8_t subsystem = p[1];
    const uint16_t command = ReadLe16(p + 2);
    std::vector<uint8_t> answer;
    const auto is = [&](const SubsystemCommand& c) { return subsystem == c.subsystem && command == c.command; };
    if (is(BOARD_VERSION)) {
        if (!CheckLength(p, n, BOARD_VERSION.requestLength, "board version query"))
            return ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
        answer.assign(BOARD_VERSION.answerLength, 0);
        PutText(answer, BOARD_TEXT_START, m_strFirmware, BOARD_TEXT_END - BOARD_TEXT_START);
    } else if (is(ISO_VERSION)) {
        if (!CheckLength(p, n, ISO_VERSION.requestLength, "dashboard version query"))
            return ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
        answer.assign(ISO_VERSION.answerLength, 0);
        answer[ISO_FLAG_OFFSET] = m_strDashboard.empty() ? 1 : 0;
        PutText(answer, ISO_TEXT_START, m_strDashboard, ISO_TEXT_END - ISO_TEXT_START);
    } else if (is(NV_BACKUP_RESTORE)) {
        if (!CheckLength(p, n, NV_BACKUP_RESTORE.requestLength, "NV backup/restore"))
            return ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
        answer.assign(p, p + NV_BACKUP_RESTORE.answerLength);
        const uint8_t flag0 = p[BACKUP_RESTORE_FLAG_OFFSET];
        const uint8_t flag1 = p[BACKUP_RESTORE_FLAG_OFFSET + 1];
        const bool restore = flag0 == 1 && flag1 == 1;
        if (!restore && (flag0 != 0 || flag1 != 0))
            Violation("NV backup/restore with flags other than 00 00 or 01 01", p, n);
        answer[BACKUP_RESTORE_FLAG_OFFSET] = flag0;
        answer[BACKUP_RESULT_OFFSET] = 0;
        answer[BACKUP_RESULT_CODE_OFFSET] = 0;
        if (!restore) {
            m_bHasBackup = true;
            m_Transcript.Event("module", m_nConn, "NV backed up");
        } else if (m_Config.faults.Has(Fault::NvRestoreFail)) {
            answer[BACKUP_RESULT_OFFSET] = 1;
            answer[BACKUP_RESULT_CODE_OFFSET] = BACKUP_RESULT_NV_FAILED;
        } else if (!m_bHasBackup) {
            answer[BACKUP_RESULT_OFFSET] = 1;
            answer[BACKUP_RESULT_CODE_OFFSET] = BACKUP_RESULT_NO_BACKUP;
        } else {
            m_bRestored = true;
            m_Transcript.Event("module", m_nConn, "NV restored");
        }
    } else if (is(NV_RESTORE_STATUS)) {
        if (!CheckLength(p, n, NV_RESTORE_STATUS.requestLength, "NV restore status query"))
            return ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
        answer.assign(NV_RESTORE_STATUS.answerLength, 0);
        if (m_Config.faults.Has(Fault::NvRestoreFail)) {
            answer[RESTORE_DONE_OFFSET] = 1;
            answer[RESTORE_RESULT_OFFSET] = 1;
        } else {
            answer[RESTORE_DONE_OFFSET] = m_bRestored ? 1 : 0;
        }
    } else {
        return ErrorAnswer(answers, ERR_BAD_COMMAND, p, n);
    }
    std::memcpy(answer.data(), p, SUBSYS_HEADER_LENGTH);
    Answer(answers, std::move(answer));
}

void CWirelessModule::HandleNv(const uint8_t* p, size_t n, Answers& answers)
{
    if (!CheckLength(p, n, NV_BLOCK_LENGTH, p[0] == DIAG_NV_READ ? "NV read" : "NV write"))
        return ErrorAnswer(answers, ERR_BAD_LENGTH, p, n);
    const uint16_t item = ReadLe16(p + NV_ITEM_OFFSET);
    std::vector<uint8_t> answer(p, p + NV_BLOCK_LENGTH);
    uint16_t status = 0;
    if (p[0] == DIAG_NV_READ) {
        auto it = m_NvItems.find(item);
        if (it == m_NvItems.end()) {
            std::fill(answer.begin() + NV_DATA_OFFSET, answer.begin() + NV_STATUS_OFFSET, 0);
            status = NV_STATUS_INACTIVE;
        } else {
            std::copy(it->second.begin(), it->second.end(), answer.begin() + NV_DATA_OFFSET);
        }
    } else if (m_NvItems.size() >= MAX_NV_ITEMS && m_NvItems.count(item) == 0) {
        status = NV_STATUS_FULL;
    } else {
        m_NvItems[item].assign(p + NV_DATA_OFFSET, p + NV_STATUS_OFFSET);
    }
    WriteLe16(answer.data() + NV_STATUS_OFFSET, status);
    Answer(answers, std::move(answer));
}

void CWirelessModule::HandleUnlock(const uint8_t* p, size_t n, Answers& answers)
{
    if (!CheckLength(p, n, UNLOCK_REQUEST_LENGTH, "unlock"))
        return Nak(answers, NAK_BAD_FRAME);
    ++m_nUnlockRequests;
    if (m_nUnlockRequests <= m_Config.faults.Number(Fault::UnlockRefused)) {
        m_Transcript.Event("module", m_nConn, "unlock refused (fault unlock-refused)");
        return Nak(answers, NAK_WRONG_CODE);
    }
    if (!m_Config.AcceptsUnlockCode(p + 1)) {
        m_Transcript.Event("module", m_nConn, "unlock refused: wrong code", {{"code", CTranscript::Hex(p + 1, 8)}});
        return Nak(answers, NAK_WRONG_CODE);
    }
    m_bUnlocked = true;
    m_Download.Reset();
    m_Transcript.Event("module", m_nConn, "unlocked");
    Answer(answers, {DL_ACK});
}

void CWirelessModule::HandleBlockWrite(const uint8_t* p, size_t n, Answers& answers)
{
    if (n < BLOCK_HEADER_LENGTH) {
        Violation("block write shorter than its 7-byte header", p, n);
        return Nak(answers, NAK_BAD_FRAME);
    }
    const uint32_t address = ReadBe32(p + BLOCK_ADDRESS_OFFSET);
    const uint32_t length = ReadBe16(p + BLOCK_LENGTH_OFFSET);
    if (length == 0 || length > MAX_BLOCK_LENGTH || n != BLOCK_HEADER_LENGTH + size_t(length)) {
        Violation("block write of " + std::to_string(n) + " bytes announcing " + std::to_string(length) + " data bytes",
                  p, n);
        return Nak(answers, NAK_BAD_FRAME);
    }
    if (!m_bUnlocked) {
        Violation("block write before unlock", p, n);
        return Nak(answers, NAK_LOCKED);
    }
    const uint64_t end = uint64_t(address) + length;
    if (address < m_Config.regionBase || end > uint64_t(m_Config.regionBase) + m_Config.regionSize) {
        Violation("block write outside the unlocked region", p, n);
        return Nak(answers, NAK_OUTSIDE_REGION);
    }
    ++m_nWriteRequests;
    if (m_Config.faults.HitsNumber(Fault::NakBlock, m_nWriteRequests)) {
        m_Transcript.Event("module", m_nConn, "block refused (fault nak-block)", {{"address", address}});
        m_Download.OnBlockLost(address);
        return Nak(answers, NAK_WRITE_FAILED);
    }
    m_Download.OnBlock(address, p + BLOCK_HEADER_LENGTH, length);
    m_Transcript.Event("module", m_nConn, "block written",
                       {{"address", address}, {"length", length}, {"crc", m_Download.LastBlockCrc()}});
    if (m_Config.faults.HitsNumber(Fault::DropBlockAck, m_nWriteRequests)) {
        m_Transcript.Event("module", m_nConn, "block acknowledgement dropped (fault drop-block-ack)",
                           {{"address", address}});
        return;
    }
    if (m_Config.faults.HitsNumber(Fault::LateAck, m_nWriteRequests)) {
        m_Transcript.Event("module", m_nConn, "block acknowledgement held back (fault late-ack)",
                           {{"address", address}});
        m_bLateAckHeld = true;
        m_nLateAckAddress = address;
        m_nLateAckConn = m_nConn;
        return;
    }
    if (m_Config.faults.Has(Fault::BareBlockAck))
        Answer(answers, {DL_ACK});
    else
        Answer(answers, {DL_ACK, p[1], p[2], p[3], p[4]});
}

void CWirelessModule::HandleReset(Answers& answers)
{
    Answer(answers, {DL_ACK});
    Restart(Mode::Normal, "reset");
}
