// Router module transfer: begin packet, raw image data, result packet.
#include "engine/CUpgradeEngine.h"

#include <cstring>

#include "engine/ControlPacket.h"
#include "images/CAppFileReader.h"
#include "log/ErrorText.h"
#include "platform/Clock.h"

namespace {

constexpr int kBeginTries = 3;
constexpr uint32_t kControlWriteTimeoutMs = 3000;
constexpr uint32_t kAfterBeginPauseMs = 2500;
constexpr uint32_t kBeginRetryPauseMs = 100;
constexpr uint32_t kChunkWriteTimeoutMs = 3000;
constexpr uint32_t kResultReadTimeoutMs = 8000;
constexpr uint32_t kResultBufferSize = 512;
constexpr uint32_t kAppResultLimitMs = 300000;
constexpr uint32_t kOtherResultLimitMs = 120000;

}  // namespace

bool CUpgradeEngine::UpgradeRouterImage(CBinFile& image)
{
    const uint32_t type = image.GetType();
    m_nRow = RowForComponent(static_cast<int>(type));
    SetProgress(0);
    const uint32_t total = image.GetTotalLength();

    m_Adapter.StopReader();
    if (!SendBeginPacket(CONTROL_RUT_BEGIN, total))
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
        // Read and checked right before it goes out: a file changed since the check is
        // never sent.
        const uint8_t* chunk = reader.NextChunk(length);
        if (chunk == nullptr) {
            LogImageChanged(image, reader.GetFailure());
            m_nResultId = IDS_ROUTER_TRANSFER_FAILED;
            return false;
        }
        if (!m_Adapter.Write(1, chunk, length, 0, kChunkWriteTimeoutMs)) {
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
    for (int attempt = 0; attempt < kBeginTries; ++attempt) {
        if (m_Adapter.Write(0, packet.data(), ControlPacket::SIZE, 1, kControlWriteTimeoutMs)) {
            Pause(kAfterBeginPauseMs);
            if (kind == CONTROL_FWT_FORCE)
                m_bForceLoadEntered = 1;
            return true;
        }
        Pause(kBeginRetryPauseMs);
    }
    m_nResultId = IDS_BEGIN_PACKET_FAILED;
    return false;
}

bool CUpgradeEngine::TCP_GetRouterResult(int imageType)
{
    SetStatus(IDS_WAITING_ROUTER, COLOUR_RUNNING);
    const uint32_t limit =
        (imageType == COMPONENT_APP || imageType == COMPONENT_APP_B) ? kAppResultLimitMs : kOtherResultLimitMs;
    SetProgress(0);
    const uint32_t start = GetTickCount();

    uint8_t buffer[kResultBufferSize];
    for (;;) {
        std::memset(buffer, 0, ControlPacket::SIZE);
        uint32_t length = 0;
        uint32_t value = 0;
        const bool read = m_Adapter.Read(buffer, kResultBufferSize, &length, 0, kResultReadTimeoutMs);
        const uint32_t elapsed = TicksSince(start);
        if (read && ControlPacket::ParseResult(buffer, length, value)) {
            if (value == ROUTER_RESULT_OK) {
                LogPrintf(m_Log, "TCP_GetRouterResult's ElapsedTime = %d ms", static_cast<int>(elapsed));
                SetProgress(100);
                return true;
            }
            LogPrintf(m_Log, "TCP_GetRouterResult's ElapsedTime = %d ms, Result = %d",
                static_cast<int>(elapsed), static_cast<int>(value));
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
