#include "wire/DiagCodec.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"
#include "wire/DiagProtocol.h"

using namespace DiagProtocol;

namespace {

// The answer begins with the request's first `count` bytes.
void PatternFromRequest(DiagRequest& request, uint32_t count)
{
    std::memcpy(request.pattern, request.bytes, count);
    request.patternLength = count;
}

// Acknowledgement mode: the answer is a lone 02.
void AckPattern(DiagRequest& request)
{
    request.pattern[0] = DL_ACK;
    request.patternLength = 1;
}

// 4B <subsystem> <command, low byte first>, zeros up to the request's length.
DiagRequest SubsystemRequest(const SubsystemCommand& command)
{
    DiagRequest request;
    request.bytes[0] = DIAG_SUBSYS_CMD;
    request.bytes[1] = command.subsystem;
    WriteLe16(request.bytes + 2, command.command);
    request.length = command.requestLength;
    request.expectedLength = command.answerLength;
    PatternFromRequest(request, SUBSYS_HEADER_LENGTH);
    return request;
}

// A command of one byte, answered by one byte.
DiagRequest OneByteRequest(uint8_t command)
{
    DiagRequest request;
    request.bytes[0] = command;
    request.length = 1;
    request.expectedLength = 1;
    return request;
}

bool IsTextStop(uint8_t b) { return b == 0x0D || b == 0x0A || b == 0x00 || b == 0xFF; }

std::string ScanText(std::span<const uint8_t> answer, uint32_t start, uint32_t end)
{
    end = std::min<uint32_t>(end, static_cast<uint32_t>(answer.size()));
    uint32_t index = start;
    while (index < end && !IsTextStop(answer[index]))
        ++index;
    return index > start ? MakePrintable(answer.data() + start, index - start) : std::string();
}

uint8_t At(std::span<const uint8_t> answer, size_t index, uint8_t missing)
{
    return index < answer.size() ? answer[index] : missing;
}

} // namespace

namespace DiagCodec {

DiagRequest BoardVersionRequest() { return SubsystemRequest(BOARD_VERSION); }

DiagRequest IsoVersionRequest() { return SubsystemRequest(ISO_VERSION); }

DiagRequest RestoreStatusRequest() { return SubsystemRequest(NV_RESTORE_STATUS); }

DiagRequest BackupRestoreRequest(bool backup)
{
    DiagRequest request = SubsystemRequest(NV_BACKUP_RESTORE);
    const uint8_t restore = backup ? 0 : 1;
    request.bytes[BACKUP_RESTORE_FLAG_OFFSET] = restore;
    request.bytes[BACKUP_RESTORE_FLAG_OFFSET + 1] = restore;
    return request;
}

DiagRequest SwitchToDownloaderRequest()
{
    DiagRequest request = OneByteRequest(DIAG_SWITCH_DOWNLOADER);
    PatternFromRequest(request, 1);
    return request;
}

DiagRequest HandShakeRequest()
{
    DiagRequest request;
    request.bytes[0] = DIAG_NV_READ;
    std::memcpy(request.bytes + HANDSHAKE_MAGIC_OFFSET, HANDSHAKE_MAGIC, sizeof HANDSHAKE_MAGIC);
    request.length = NV_BLOCK_LENGTH;
    request.expectedLength = 0;
    PatternFromRequest(request, HANDSHAKE_PATTERN_LENGTH);
    return request;
}

DiagRequest ChangeModeRequest(uint8_t mode)
{
    DiagRequest request;
    request.bytes[0] = DIAG_CHANGE_MODE;
    request.bytes[1] = mode;
    request.length = CHANGE_MODE_LENGTH;
    request.expectedLength = CHANGE_MODE_LENGTH;
    PatternFromRequest(request, CHANGE_MODE_LENGTH);
    return request;
}

DiagRequest NvRequest(uint8_t command, uint16_t item, const uint8_t* source, uint32_t length)
{
    DiagRequest request;
    request.bytes[0] = command;
    WriteLe16(request.bytes + NV_ITEM_OFFSET, item);
    if (source != nullptr)
        std::memcpy(request.bytes + NV_DATA_OFFSET, source, std::min(length, NV_DATA_LENGTH));
    request.length = NV_BLOCK_LENGTH;
    request.expectedLength = NV_BLOCK_LENGTH;
    PatternFromRequest(request, NV_HEADER_LENGTH);
    return request;
}

DiagRequest UnlockRequest(const uint8_t code[8])
{
    DiagRequest request;
    request.bytes[0] = DL_UNLOCK;
    std::memcpy(request.bytes + 1, code, UNLOCK_CODE_LENGTH);
    request.length = UNLOCK_REQUEST_LENGTH;
    request.expectedLength = 1;
    AckPattern(request);
    return request;
}

DiagRequest ResetRequest()
{
    DiagRequest request = OneByteRequest(DL_RESET);
    AckPattern(request);
    return request;
}

void BlockWriteHeader(uint32_t address, uint16_t length, uint8_t header[7])
{
    header[0] = DL_WRITE;
    WriteBe32(header + BLOCK_ADDRESS_OFFSET, address);
    WriteBe16(header + BLOCK_LENGTH_OFFSET, length);
}

void BlockAckPattern(uint32_t address, uint8_t pattern[5])
{
    pattern[0] = DL_ACK;
    WriteBe32(pattern + 1, address);
}

bool IsHandShakeRequest(std::span<const uint8_t> request)
{
    return request.size() >= HANDSHAKE_MAGIC_OFFSET + sizeof HANDSHAKE_MAGIC && request[0] == DIAG_NV_READ &&
           request[1] == 0 && request[2] == 0 &&
           std::memcmp(request.data() + HANDSHAKE_MAGIC_OFFSET, HANDSHAKE_MAGIC, sizeof HANDSHAKE_MAGIC) == 0;
}

std::string BoardVersion(std::span<const uint8_t> answer) { return ScanText(answer, BOARD_TEXT_START, BOARD_TEXT_END); }

std::optional<std::string> IsoVersion(std::span<const uint8_t> answer)
{
    if (At(answer, ISO_FLAG_OFFSET, 1) != 0)
        return std::nullopt;
    return ScanText(answer, ISO_TEXT_START, ISO_TEXT_END);
}

BackupRestoreResult BackupRestore(std::span<const uint8_t> answer)
{
    if (answer.size() <= BACKUP_RESULT_CODE_OFFSET)
        return {false, 0};
    const uint8_t code = answer[BACKUP_RESULT_CODE_OFFSET];
    return {answer[BACKUP_RESULT_OFFSET] == 0 && code == 0, code};
}

RestoreStatus RestoreStatusOf(std::span<const uint8_t> answer)
{
    const uint8_t done = At(answer, RESTORE_DONE_OFFSET, 0xFF);
    if (done == 0)
        return RestoreStatus::NoBackup;
    if (done == 1 && At(answer, RESTORE_RESULT_OFFSET, 0xFF) == 0)
        return RestoreStatus::Restored;
    return RestoreStatus::Failed;
}

HandShakeResult HandShake(std::span<const uint8_t> answer)
{
    HandShakeResult result;
    if (answer.size() < HANDSHAKE_MIN_ANSWER)
        return result;
    const bool formatGood =
        answer[1] == 0 && answer[2] == 0 &&
        std::memcmp(answer.data() + HANDSHAKE_MAGIC_OFFSET, HANDSHAKE_MAGIC, sizeof HANDSHAKE_MAGIC) == 0 &&
        answer[7] == 0 && answer[8] == 0;
    result.statusByte = answer[HANDSHAKE_STATUS_OFFSET];
    if (!formatGood)
        result.status = HandShakeResult::Status::BadFormat;
    else if (result.statusByte != 0)
        result.status = HandShakeResult::Status::BadStatus;
    else
        result.status = HandShakeResult::Status::Good;
    result.forceLoad = answer[HANDSHAKE_FORCE_LOAD_OFFSET] == 1 ? 1 : 0;
    result.offline = answer[HANDSHAKE_OFFLINE_OFFSET] == 1 ? 1 : 0;
    return result;
}

uint16_t NvStatus(std::span<const uint8_t> answer)
{
    if (answer.size() < NV_STATUS_OFFSET + 2)
        return NV_STATUS_MISSING;
    return ReadLe16(answer.data() + NV_STATUS_OFFSET);
}

void NvData(std::span<const uint8_t> answer, uint8_t* destination, uint32_t length)
{
    length = std::min(length, NV_DATA_LENGTH);
    std::memset(destination, 0, length);
    if (answer.size() > NV_DATA_OFFSET)
        std::memcpy(destination, answer.data() + NV_DATA_OFFSET,
                    std::min<size_t>(length, answer.size() - NV_DATA_OFFSET));
}

bool IsRefusal(std::span<const uint8_t> answer) { return !answer.empty() && answer[0] == DL_NAK; }

} // namespace DiagCodec
