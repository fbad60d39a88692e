// Wireless module download: hand-shake, NV backup, downloader, block writes, restart and
// the checks after it.
#include "engine/CUpgradeEngine.h"

#include "images/CAppFileReader.h"
#include "platform/Clock.h"
#include "platform/TextCodec.h"
#include "wire/CHdlcFrameWriter.h"
#include "wire/ControlPacket.h"
#include "wire/DiagCodec.h"
#include "wire/DiagProtocol.h"
#include "wire/HdlcFraming.h"

namespace {

constexpr uint32_t READY_AFTER_FORCE_LOAD_MS = 10000;
constexpr uint32_t READY_AFTER_RESTART_MS = 60000;
constexpr uint32_t OFFLINE_PAUSE_MS = 100;
constexpr uint32_t RESTART_SETTLE_MS = 6000;
constexpr uint32_t FLAG_WRITE_TIMEOUT_MS = 3000;
constexpr int HAND_SHAKES_AFTER_RESTART = 3;
constexpr int RESTORE_PASSES = 2;
constexpr int RESTORE_QUERIES = 2;
constexpr int BACKUP = 1;
constexpr int RESTORE = 0;

} // namespace

bool CUpgradeEngine::UpgradeFirmware()
{
    m_nRow = RowForComponent(COMPONENT_FIRMWARE);
    SetProgress(0);
    // A module that does not answer is treated as being in its downloader (both flags 1).
    HandShakeWithRetry();
    if (m_Session.GetForceLoad() == 0) {
        SetStatus(IDS_BACKING_UP_NV, COLOUR_RUNNING);
        if (!m_Diag.DIAG_NV_BackupRestore(BACKUP)) {
            m_nResultId = IDS_NV_BACKUP_FAILED;
            return false;
        }
    } else {
        LogPrintf(m_Log, "Have Enter Downloader Mode");
    }
    if (!EnterDownloader() || !DownloadImage(m_pTable[COMPONENT_FIRMWARE].m_Image) || !RestartModule() || !Waiting())
        return false;
    if (m_Session.GetForceLoad() == 1) {
        m_nResultId = IDS_NV_RESTORE_FAILED;
        LogPrintf(m_Log, "Still in downloader after reboot");
        return false;
    }
    if (!CheckNvRestore()) {
        m_nResultId = IDS_NV_RESTORE_FAILED;
        return false;
    }
    std::string version;
    if (!m_Diag.DIAG_QueryBoardVersion(&version)) {
        m_nResultId = IDS_VERSION_CHECK_FAILED;
        return false;
    }
    SetReadBackVersion(COMPONENT_FIRMWARE, MakePrintable(version));
    return true;
}

bool CUpgradeEngine::UpgradeDashboard()
{
    m_nRow = RowForComponent(COMPONENT_DASHBOARD);
    HandShakeWithRetry();
    if (!EnterDownloader() || !DownloadImage(m_pTable[COMPONENT_DASHBOARD].m_Image) || !RestartModule() || !Waiting())
        return false;
    std::string version;
    if (m_Session.GetForceLoad() == 0 && m_Diag.DIAG_QueryISOVersion(&version)) {
        SetReadBackVersion(COMPONENT_DASHBOARD, MakePrintable(version));
        return true;
    }
    m_nResultId = IDS_VERSION_CHECK_FAILED;
    return false;
}

bool CUpgradeEngine::HandShakeWithRetry()
{
    WaitRouterReady(READY_AFTER_FORCE_LOAD_MS);
    if (m_Session.HandShake(0))
        return true;
    if (EnterForceLoad()) {
        WaitRouterReady(READY_AFTER_FORCE_LOAD_MS);
        if (m_Session.HandShake(1))
            return true;
    }
    m_nResultId = IDS_HANDSHAKE_FAILED;
    return false;
}

bool CUpgradeEngine::EnterDownloader()
{
    if (m_Session.GetOffline() == 0) {
        SetStatus(IDS_OFFLINE_MODE, COLOUR_RUNNING);
        if (m_Diag.DIAG_ChangeMode(DiagProtocol::MODE_OFFLINE))
            Pause(OFFLINE_PAUSE_MS);
    }
    if (!SendBeginPacket(m_Session.GetForceLoad() == 1 ? ControlPacket::CONTROL_FWT_FORCE
                                                       : ControlPacket::CONTROL_FWT_BEGIN,
                         0))
        return false;
    if (m_Session.GetForceLoad() == 1)
        return true;
    SetStatus(IDS_SWITCHING_DOWNLOADER, COLOUR_RUNNING);
    if (!m_Diag.DIAG_SwitchToDownloader()) {
        m_nResultId = IDS_SWITCH_DOWNLOADER_FAILED;
        return false;
    }
    return Waiting();
}

bool CUpgradeEngine::UnlockModule(const uint8_t code[8])
{
    SetStatus(IDS_UNLOCKING, COLOUR_RUNNING);
    if (m_Diag.DIAG_Unlock(code))
        return true;
    if (EnterForceLoad()) {
        WaitRouterReady(READY_AFTER_FORCE_LOAD_MS);
        if (m_Diag.DIAG_Unlock(code))
            return true;
    }
    m_nResultId = IDS_UNLOCK_FAILED;
    return false;
}

bool CUpgradeEngine::DownloadImage(CBinFile& image)
{
    CAppFileReader reader(image, DiagProtocol::MAX_BLOCK_LENGTH);
    if (image.GetPartCount() == 0) {
        m_nResultId = IDS_DOWNLOAD_FAILED;
        return false;
    }
    uint8_t code[8];
    const auto& unlock = image.GetHeader(0).m_UnlockCode;
    for (int i = 0; i < 8; ++i)
        code[i] = static_cast<uint8_t>(unlock[i]);
    if (!UnlockModule(code))
        return false;
    SetStatus(image.GetType() == IMG_DASHBOARD ? IDS_DOWNLOADING_DASHBOARD : IDS_DOWNLOADING_FIRMWARE, COLOUR_RUNNING);

    const uint32_t total = image.GetTotalLength();
    uint64_t written = 0;
    for (size_t part = 0; part < image.GetPartCount(); ++part) {
        if (!DownloadPart(reader, static_cast<int>(part), total, written))
            return false;
    }
    if (m_bForceLoadEntered == 1)
        LeaveForceLoad();
    return true;
}

bool CUpgradeEngine::DownloadPart(CAppFileReader& reader, int part, uint32_t total, uint64_t& written)
{
    const uint32_t blocks = reader.GetChunkCount(static_cast<size_t>(part));
    uint32_t address = reader.GetHeader(static_cast<size_t>(part)).m_nTargetAddress;
    reader.SelectPart(static_cast<size_t>(part));
    for (uint32_t block = 0; block < blocks; ++block) {
        uint32_t length = 0;
        // The bytes checked when the image was opened (an embedded image's block is checked
        // now, as it never was): a damaged block is never sent.
        const uint8_t* data = reader.NextChunk(length);
        if (data == nullptr) {
            LogImageDamaged(reader.GetFile(), reader.GetFailure());
            m_nResultId = IDS_DOWNLOAD_FAILED;
            return false;
        }
        const uint32_t frameLength = BuildWriteFrame(address, length, data);
        uint8_t pattern[DiagProtocol::BLOCK_ACK_LENGTH];
        DiagCodec::BlockAckPattern(address, pattern);
        m_Adapter.Responses().SetMatchPattern(pattern, sizeof pattern);
        if (frameLength == 0 || !DIAG_Write(frameLength)) {
            LogPrintf(m_Log, "Unit%d Block%d: Download Fail", part + 1, static_cast<int>(block + 1));
            m_nResultId = IDS_DOWNLOAD_FAILED;
            return false;
        }
        address += length;
        written += length;
        SetProgress(ProgressPercent(written, total));
    }
    return true;
}

uint32_t CUpgradeEngine::BuildWriteFrame(uint32_t address, uint32_t length, const uint8_t* data)
{
    // The write buffer holds the worst case of a full block: every byte stuffed.
    static_assert(HdlcMaxFrameLength(DiagProtocol::BLOCK_HEADER_LENGTH + DiagProtocol::MAX_BLOCK_LENGTH) <=
                  CHdlcAdapter::WRITE_BUFFER_SIZE);
    if (length > DiagProtocol::MAX_BLOCK_LENGTH || (length > 0 && data == nullptr))
        return 0;
    uint8_t* out = m_Adapter.WriteBuffer();
    if (out == nullptr)
        return 0;

    uint8_t header[DiagProtocol::BLOCK_HEADER_LENGTH];
    DiagCodec::BlockWriteHeader(address, static_cast<uint16_t>(length), header);

    // Built in place: the block's data is stuffed straight into the adapter's buffer.
    CHdlcFrameWriter writer({out, CHdlcAdapter::WRITE_BUFFER_SIZE});
    writer.Begin(true);
    writer.Append(header, sizeof header);
    writer.Append(data, length);
    writer.Finish();
    return writer.Length();
}

bool CUpgradeEngine::DIAG_Write(uint32_t frameLength) { return m_Diag.DIAG_Write(frameLength); }

bool CUpgradeEngine::RestartModule()
{
    SetStatus(IDS_RESTARTING, COLOUR_RUNNING);
    if (!m_Diag.DIAG_Reset()) {
        m_nResultId = IDS_RESTART_FAILED;
        return false;
    }
    return true;
}

bool CUpgradeEngine::Waiting()
{
    SetStatus(IDS_PREPARING_WIRELESS, COLOUR_RUNNING);
    SetProgress(0);
    if (!WaitRouterReady(READY_AFTER_RESTART_MS)) {
        m_nResultId = IDS_RESTART_TIMEOUT;
        LogPrintf(m_Log, "Waiting: First Check Fail");
        return false;
    }
    SetProgress(30);
    Pause(RESTART_SETTLE_MS);
    SetProgress(50);
    if (!WaitRouterReady(READY_AFTER_RESTART_MS)) {
        m_nResultId = IDS_RESTART_TIMEOUT;
        LogPrintf(m_Log, "Waiting: Second Check Fail");
        return false;
    }
    SetProgress(70);
    // A lone flag lets the module's frame decoder start clean.
    const uint8_t flag = HDLC_FLAG;
    m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, &flag, 1, FLAG_WRITE_TIMEOUT_MS);
    bool shaken = false;
    for (int attempt = 0; attempt < HAND_SHAKES_AFTER_RESTART && !shaken; ++attempt)
        shaken = m_Session.HandShake(0);
    if (!shaken) {
        m_nResultId = IDS_RESTART_TIMEOUT;
        LogPrintf(m_Log, "Waiting: Handshake failed");
        return false;
    }
    SetProgress(100);
    return true;
}

bool CUpgradeEngine::CheckNvRestore()
{
    SetStatus(IDS_CHECK_NV_RESTORE, COLOUR_RUNNING);
    for (int pass = 0; pass < RESTORE_PASSES; ++pass) {
        for (int attempt = 1; attempt <= RESTORE_QUERIES; ++attempt) {
            LogPrintf(m_Log, "  Try%d: Reading restored status ...", attempt);
            if (m_Diag.DIAG_NV_QueryRestoreStatus())
                return true;
        }
        if (m_Diag.DIAG_NV_BackupRestore(RESTORE))
            return true;
    }
    return false;
}
