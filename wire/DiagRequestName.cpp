#include "wire/DiagRequestName.h"

#include "platform/ByteOrder.h"
#include "wire/ControlPacket.h"
#include "wire/DiagCodec.h"
#include "wire/DiagProtocol.h"

using namespace DiagProtocol;

namespace {

// The module's requests.
constexpr const char* HAND_SHAKE = "hand-shake";
constexpr const char* BOARD_VERSION_NAME = "board-version";
constexpr const char* DASHBOARD_VERSION_NAME = "dashboard-version";
constexpr const char* NV_BACKUP = "nv-backup";
constexpr const char* NV_RESTORE = "nv-restore";
constexpr const char* NV_RESTORE_STATUS_NAME = "nv-restore-status";
constexpr const char* CHANGE_MODE = "change-mode";
constexpr const char* SWITCH_TO_DOWNLOADER = "switch-to-downloader";
constexpr const char* UNLOCK = "unlock";
constexpr const char* BLOCK_WRITE = "block-write";
constexpr const char* RESET = "reset";
constexpr const char* NV_READ = "nv-read";
constexpr const char* NV_WRITE = "nv-write";

const char* SubsystemName(std::span<const uint8_t> p)
{
    if (p.size() < SUBSYS_HEADER_LENGTH)
        return "subsystem";
    const uint16_t command = ReadLe16(p.data() + 2);
    const auto is = [&](const SubsystemCommand& c) { return p[1] == c.subsystem && command == c.command; };
    if (is(BOARD_VERSION))
        return BOARD_VERSION_NAME;
    if (is(ISO_VERSION))
        return DASHBOARD_VERSION_NAME;
    if (is(NV_BACKUP_RESTORE))
        return p.size() > BACKUP_RESTORE_FLAG_OFFSET && p[BACKUP_RESTORE_FLAG_OFFSET] == 1 ? NV_RESTORE : NV_BACKUP;
    if (is(NV_RESTORE_STATUS))
        return NV_RESTORE_STATUS_NAME;
    return "subsystem";
}

} // namespace

namespace DiagRequestName {

const char* Of(std::span<const uint8_t> p)
{
    if (p.empty())
        return "empty";
    switch (p[0]) {
    case DL_ACK: return p.size() == 1 ? "ack" : "block-ack";
    case DL_NAK: return "nak";
    case ERR_BAD_COMMAND:
    case ERR_BAD_LENGTH: return "error";
    case DL_RESET: return RESET;
    case DL_UNLOCK: return UNLOCK;
    case DL_WRITE: return BLOCK_WRITE;
    case DIAG_NV_READ:
        if (p.size() == 1)
            return "unlock-preamble";
        return DiagCodec::IsHandShakeRequest(p) ? HAND_SHAKE : NV_READ;
    case DIAG_NV_WRITE: return NV_WRITE;
    case DIAG_CHANGE_MODE: return CHANGE_MODE;
    case DIAG_SWITCH_DOWNLOADER: return SWITCH_TO_DOWNLOADER;
    case ControlPacket::LEAD_BYTE: return "control-packet";
    case DIAG_SUBSYS_CMD: return SubsystemName(p);
    default: return "unknown";
    }
}

const std::vector<std::string>& ModuleRequests()
{
    static const std::vector<std::string> NAMES = {HAND_SHAKE,
                                                   BOARD_VERSION_NAME,
                                                   DASHBOARD_VERSION_NAME,
                                                   NV_BACKUP,
                                                   NV_RESTORE,
                                                   NV_RESTORE_STATUS_NAME,
                                                   CHANGE_MODE,
                                                   SWITCH_TO_DOWNLOADER,
                                                   UNLOCK,
                                                   BLOCK_WRITE,
                                                   RESET,
                                                   NV_READ,
                                                   NV_WRITE};
    return NAMES;
}

} // namespace DiagRequestName
