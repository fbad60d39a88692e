// Router module transfer: begin packet, raw image data, result packet.
#include "engine/CUpgradeEngine.h"

#include <cstring>

#include "images/CAppFileReader.h"
#include "log/ErrorText.h"
#include "platform/Clock.h"
#include "wire/ControlPacket.h"

namespace {

constexpr int BEGIN_TRIES = 3;
constexpr uint32_t CONTROL_WRITE_TIMEOUT_MS = 3000;
constexpr uint32_t AFTER_BEGIN_PAUSE_MS = 2500;
constexpr uint32_t BEGIN_RETRY_PAUSE_MS = 100;
constexpr uint32_t CHUNK_WRITE_TIMEOUT_MS = 3000;
constexpr uint32_t RESULT_READ_TIMEOUT_MS = 8000;
constexpr uint32_t RESULT_BUFFER_SIZE = 512;
constexpr uint32_t APP_RESULT_LIMIT_MS = 300000;
constexpr uint32_t OTHER_RESULT_LIMIT_MS = 120000;

} // namespace

bool CUpgradeEngine::UpgradeRouterImage(CBinFile& image)
{
    const uint32_t type = image.GetType();
    m_nRow = RowForComponent(static_cast<int>(type));
    SetProgress(0);
    const uint32_t total = image.GetTotalLength();

    m_Adapter.StopReader();
    if (!SendBeginPacket(ControlPacket::CONTROL_RUT_BEGIN, total))
        return false;
    if (!SendRouterData(image, total))
        return false;
    // The pattern is set before the reader starts: setting it later would clear the signal
    // of a result packet that arrived at once, and the wait would miss it.
    const uint8_t pattern = ControlPacket::LEAD_BYTE;
    m_Adapter.Responses().SetMatchPattern(&pattern, 1);
    m_Adapter.StartReader();
    return TCP_GetRouterResult(static_cast<int>(type));
}

bool CUpgradeEngine::SendRouterData(CBinFile& image, uint32_t total)
{
    CAppFileReader reader(image, ROUTER_CHUNK_SIZE);
    reader.SelectPart(0);
    SetStatus(IDS_TRANSMITTING_ROUTER, COLOUR_RUNNING);

    const uint32_t chunks = reader.GetChunkCount(0);
    uint64_t sent = 0;
    for (uint32_t i = 0; i < chunks; ++i) {
        uint32_t length = 0;
        // The bytes checked when the image was opened (an embedded image's block is checked
        // now, as it never was): a damaged block is never sent.
        const uint8_t* chunk = reader.NextChunk(length);
        if (chunk == nullptr) {
            LogImageDamaged(image, reader.GetFailure());
            m_nResultId = IDS_ROUTER_TRANSFER_FAILED;
            return false;
        }
        if (!m_Adapter.Write(CHdlcAdapter::WriteAs::Raw, chunk, length, CHUNK_WRITE_TIMEOUT_MS)) {
            LogPrintf(m_Log, "Router Block%d Transfer Fail: %s", static_cast<int>(i + 1),
                      GetErrorText(m_Adapter.GetLastPortError()).c_str());
            m_nResultId = IDS_ROUTER_TRANSFER_FAILED;
            return false;
        }
        sent += length;
        SetProgress(ProgressPercent(sent, total));
    }
    return true;
}

bool CUpgradeEngine::SendBeginPacket(int kind, uint32_t value)
{
    if (const char* line = ControlPacket::KindLogLine(kind))
        LogPrintf(m_Log, "%s", line);
    const auto packet = ControlPacket::Build(kind, value);
    for (int attempt = 0; attempt < BEGIN_TRIES; ++attempt) {
        if (m_Adapter.Write(CHdlcAdapter::WriteAs::FlaggedFrame, packet.data(), ControlPacket::SIZE,
                            CONTROL_WRITE_TIMEOUT_MS)) {
            Pause(AFTER_BEGIN_PAUSE_MS);
            if (kind == ControlPacket::CONTROL_FWT_FORCE)
                m_bForceLoadEntered = 1;
            return true;
        }
        Pause(BEGIN_RETRY_PAUSE_MS);
    }
    m_nResultId = IDS_BEGIN_PACKET_FAILED;
    return false;
}

bool CUpgradeEngine::TCP_GetRouterResult(int imageType)
{
    SetStatus(IDS_WAITING_ROUTER, COLOUR_RUNNING);
    const uint32_t limit = (imageType == COMPONENT_APP || imageType == COMPONENT_APP_B) ? APP_RESULT_LIMIT_MS
                                                                                        : OTHER_RESULT_LIMIT_MS;
    SetProgress(0);
    const uint32_t start = GetTickCount();

    uint8_t buffer[RESULT_BUFFER_SIZE];
    for (;;) {
        std::memset(buffer, 0, ControlPacket::SIZE);
        uint32_t length = 0;
        uint32_t value = 0;
        const bool read = m_Adapter.Read(buffer, RESULT_BUFFER_SIZE, &length, 0, RESULT_READ_TIMEOUT_MS);
        const uint32_t elapsed = TicksSince(start);
        if (read && ControlPacket::ParseResult(buffer, length, value)) {
            if (value == ControlPacket::ROUTER_RESULT_OK) {
                LogPrintf(m_Log, "TCP_GetRouterResult's ElapsedTime = %d ms", static_cast<int>(elapsed));
                SetProgress(100);
                return true;
            }
            LogPrintf(m_Log, "TCP_GetRouterResult's ElapsedTime = %d ms, Result = %d", static_cast<int>(elapsed),
                      static_cast<int>(value));
            m_nResultId = IDS_ROUTER_RESULT_FAIL;
            SetProgress(100);
            return false;
        }
        if (elapsed > limit) {
            m_nResultId = IDS_ROUTER_RESULT_TIMEOUT;
            return false;
        }
        SetProgress(ProgressPercent(elapsed, limit));
    }
}
