#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "wire/DiagRequest.h"

// The wireless module's requests and answers as bytes, without a channel: builders return
// the request with its lengths and the pattern its answer is matched by; interpreters read
// an answer (exactly the bytes that arrived) and say what it means. Bytes an answer lacks
// are never read: a short answer reads as a failed one. CDiagCaller sends, waits and logs.
namespace DiagCodec {

DiagRequest BoardVersionRequest();
DiagRequest IsoVersionRequest();
DiagRequest SwitchToDownloaderRequest();
DiagRequest BackupRestoreRequest(bool backup);
DiagRequest RestoreStatusRequest();
DiagRequest HandShakeRequest();
DiagRequest ChangeModeRequest(uint8_t mode);
// `source` may be null (a read, or a write of zeros); at most 128 bytes are taken.
DiagRequest NvRequest(uint8_t command, uint16_t item, const uint8_t* source, uint32_t length);
DiagRequest UnlockRequest(const uint8_t code[8]);
DiagRequest ResetRequest();
// The header of a downloader block write and the acknowledgement that answers it.
void BlockWriteHeader(uint32_t address, uint16_t length, uint8_t header[7]);
void BlockAckPattern(uint32_t address, uint8_t pattern[5]);

// Recognises the hand-shake among NV reads (the simulator's side).
bool IsHandShakeRequest(std::span<const uint8_t> request);

// The board version text: from byte 4 up to a 0D, 0A, 00 or FF, at most 31 characters,
// made printable.
std::string BoardVersion(std::span<const uint8_t> answer);
// The dashboard version text, or nothing when the answer says there is none.
std::optional<std::string> IsoVersion(std::span<const uint8_t> answer);

// NV backup or restore: done, or the result code the module gave (0 when it gave none).
struct BackupRestoreResult {
    bool done = false;
    uint8_t code = 0;
};
BackupRestoreResult BackupRestore(std::span<const uint8_t> answer);

enum class RestoreStatus { NoBackup, Restored, Failed };
RestoreStatus RestoreStatusOf(std::span<const uint8_t> answer);

struct HandShakeResult {
    enum class Status { Good, TooShort, BadFormat, BadStatus } status = Status::TooShort;
    uint8_t statusByte = 0;
    int forceLoad = 0; // 1: the module is in its downloader
    int offline = 0;   // 1: the module is in offline mode
};
HandShakeResult HandShake(std::span<const uint8_t> answer);

// The status of an NV answer; NV_STATUS_MISSING when the answer is too short to carry one.
constexpr uint16_t NV_STATUS_MISSING = 0xFFFF;
uint16_t NvStatus(std::span<const uint8_t> answer);
// Copies min(length, 128) item data bytes of an NV answer (zeros where the answer is short).
void NvData(std::span<const uint8_t> answer, uint8_t* destination, uint32_t length);

// A downloader refusal (03 reason) instead of an acknowledgement.
bool IsRefusal(std::span<const uint8_t> answer);

} // namespace DiagCodec
