#pragma once

#include <cstdint>

// The wireless module's command set as it travels on the TCP channel (inside HDLC frames):
// command codes, subsystem commands, the NV block, the hand-shake, the downloader's
// acknowledgements and block writes, and the error answers. The tool (CDiagCaller, the
// engine's block writes) and the simulator (CWirelessModule, CTcpSession) both read them
// from here. Multi-byte fields are least significant byte first unless noted.
namespace DiagProtocol {

// ---- Command codes: byte 0 of a request, echoed in byte 0 of its answer ----
constexpr uint8_t DIAG_NV_READ = 0x26; // also the lone wake-up frame sent before an unlock
constexpr uint8_t DIAG_NV_WRITE = 0x27;
constexpr uint8_t DIAG_CHANGE_MODE = 0x29; // 29 mode 00
constexpr uint8_t DIAG_SWITCH_DOWNLOADER = 0x3A;
constexpr uint8_t DIAG_SUBSYS_CMD = 0x4B; // 4B subsystem command(2)

// ---- Downloader commands and answers ----
constexpr uint8_t DL_ACK = 0x02; // acknowledgement; after a block write followed by its address
constexpr uint8_t DL_NAK = 0x03; // refusal, followed by a 16-bit reason, most significant byte first
constexpr uint32_t DL_NAK_LENGTH = 3;
constexpr uint8_t DL_RESET = 0x0A;
constexpr uint8_t DL_UNLOCK = 0x0B; // 0B, then the 8-byte unlock code
constexpr uint8_t DL_WRITE = 0x0F;  // 0F, address, length, data (see the block write below)
constexpr uint8_t DL_PREAMBLE = DIAG_NV_READ;

// Reasons the simulated downloader gives in a refusal.
constexpr uint16_t NAK_WRONG_CODE = 1;
constexpr uint16_t NAK_BAD_FRAME = 2;
constexpr uint16_t NAK_NOT_DOWNLOADER = 3;
constexpr uint16_t NAK_LOCKED = 4;
constexpr uint16_t NAK_OUTSIDE_REGION = 5;
constexpr uint16_t NAK_WRITE_FAILED = 6;

// ---- Error answers: the code, then an echo of the rejected request ----
constexpr uint8_t ERR_BAD_COMMAND = 0x13; // a command the module does not know (or not in this mode)
constexpr uint8_t ERR_BAD_LENGTH = 0x14;  // a request of the wrong length
constexpr uint8_t ERR_STOP = 0x15;        // the third code that ends a command at once
constexpr uint8_t ERR_RETRY = 0x18;       // retried like a lost answer

// Error answers (and refusals) carry the request behind their first byte.
constexpr bool IsErrorCode(uint8_t code)
{
    return code == ERR_BAD_COMMAND || code == ERR_BAD_LENGTH || code == ERR_STOP || code == ERR_RETRY;
}
// An answer that ends a command at once.
constexpr bool IsStopCode(uint8_t code)
{
    return code == ERR_BAD_COMMAND || code == ERR_BAD_LENGTH || code == ERR_STOP;
}
// An answer that is retried like a lost one.
constexpr bool IsRetryCode(uint8_t code) { return code == DL_NAK || code == ERR_RETRY; }

// ---- Subsystem commands (4B requests) ----
constexpr uint8_t SUBSYS_VERSION = 0xC9;
constexpr uint8_t SUBSYS_BACKUP = 0xC8;
constexpr uint32_t SUBSYS_HEADER_LENGTH = 4; // 4B, subsystem, command: also the match pattern

struct SubsystemCommand {
    uint8_t subsystem;
    uint16_t command;
    uint32_t requestLength;
    uint32_t answerLength;
};
constexpr SubsystemCommand BOARD_VERSION = {SUBSYS_VERSION, 0xFF03, 4, 66};
constexpr SubsystemCommand ISO_VERSION = {SUBSYS_VERSION, 0xFF24, 36, 260};
constexpr SubsystemCommand NV_BACKUP_RESTORE = {SUBSYS_BACKUP, 0xFF1E, 8, 8};
constexpr SubsystemCommand NV_RESTORE_STATUS = {SUBSYS_VERSION, 0xFF21, 36, 36};

// Board version answer: text from byte 4, looking no further than byte 34.
constexpr uint32_t BOARD_TEXT_START = 4;
constexpr uint32_t BOARD_TEXT_END = 35;
// Dashboard (ISO) version answer: byte 4 is 0 when a version follows from byte 5.
constexpr uint32_t ISO_FLAG_OFFSET = 4;
constexpr uint32_t ISO_TEXT_START = 5;
constexpr uint32_t ISO_TEXT_END = 133;
// NV backup/restore: request bytes 4 and 5 are both 1 for a restore, 0 for a backup; the
// answer's bytes 5 and 6 are both 0 on success, byte 6 the result code otherwise.
constexpr uint32_t BACKUP_RESTORE_FLAG_OFFSET = 4;
constexpr uint32_t BACKUP_RESULT_OFFSET = 5;
constexpr uint32_t BACKUP_RESULT_CODE_OFFSET = 6;
constexpr uint8_t BACKUP_RESULT_NO_BACKUP = 2;
constexpr uint8_t BACKUP_RESULT_NV_FAILED = 4;
// NV restore status answer: byte 5 is 1 when a restore took place, byte 6 is 0 when it worked.
constexpr uint32_t RESTORE_DONE_OFFSET = 5;
constexpr uint32_t RESTORE_RESULT_OFFSET = 6;

// ---- Change mode ----
constexpr uint32_t CHANGE_MODE_LENGTH = 3;
constexpr uint8_t MODE_OFFLINE = 1;

// ---- NV block: request and answer of NV read and write, and of the hand-shake ----
constexpr uint32_t NV_BLOCK_LENGTH = 133;
constexpr uint32_t NV_ITEM_OFFSET = 1;   // 16-bit item number
constexpr uint32_t NV_HEADER_LENGTH = 3; // command and item: the match pattern
constexpr uint32_t NV_DATA_OFFSET = 3;
constexpr uint32_t NV_DATA_LENGTH = 128;
constexpr uint32_t NV_STATUS_OFFSET = 131; // 16-bit status
constexpr uint16_t NV_STATUS_DONE = 0;
constexpr uint16_t NV_STATUS_FULL = 3;
constexpr uint16_t NV_STATUS_INACTIVE = 5; // never written: a read gives zeros

// ---- Hand-shake: an NV read of item 0 whose data begins with the magic ----
constexpr uint8_t HANDSHAKE_MAGIC[4] = {0x25, 0xA7, 0x00, 0x06};
constexpr uint32_t HANDSHAKE_MAGIC_OFFSET = NV_DATA_OFFSET;
constexpr uint32_t HANDSHAKE_PATTERN_LENGTH = 4; // 26 00 00 25
constexpr uint32_t HANDSHAKE_MIN_ANSWER = 16;
constexpr uint32_t HANDSHAKE_STATUS_OFFSET = 9;
constexpr uint32_t HANDSHAKE_FORCE_LOAD_OFFSET = 14;
constexpr uint32_t HANDSHAKE_OFFLINE_OFFSET = 15;

// ---- Unlock ----
constexpr uint32_t UNLOCK_CODE_LENGTH = 8;
constexpr uint32_t UNLOCK_REQUEST_LENGTH = 1 + UNLOCK_CODE_LENGTH;

// ---- Block write: 0F, address (32 bits), length n (16 bits), both most significant byte
// first, then n data bytes; acknowledged by 02 and the same address ----
constexpr uint32_t BLOCK_ADDRESS_OFFSET = 1;
constexpr uint32_t BLOCK_LENGTH_OFFSET = 5;
constexpr uint32_t BLOCK_HEADER_LENGTH = 7;
constexpr uint32_t BLOCK_ACK_LENGTH = 5;
// The most data bytes one block write carries: the download step sends images in blocks of
// this size (the last one of a part shorter), and the module refuses longer ones.
constexpr uint32_t MAX_BLOCK_LENGTH = 4096;

} // namespace DiagProtocol
