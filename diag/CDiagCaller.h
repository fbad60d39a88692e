#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "diag/DiagCodec.h"
#include "diag/DiagRequest.h"

class CHdlcAdapter;
class CDownloadLog;

// The DIAG and downloader command set of the wireless module, carried over one
// CHdlcAdapter. Each operation takes its request from DiagCodec, sets the match pattern,
// sends it with retries, waits for the answer, has DiagCodec read it and writes what went
// wrong to the download log.
class CDiagCaller {
public:
    static constexpr uint32_t RESPONSE_SIZE = 512;
    static constexpr int ATTEMPTS = 5;
    static constexpr uint32_t RETRY_PAUSE_MS = 200;
    static constexpr uint32_t WRITE_TIMEOUT_MS = 3000;
    static constexpr uint32_t READ_TIMEOUT_MS = 3000;
    static constexpr uint32_t HAND_SHAKE_TIMEOUT_MS = 6000;
    static constexpr uint32_t BLOCK_ACK_TIMEOUT_MS = 5000;

    CDiagCaller(CHdlcAdapter* adapter, CDownloadLog* log);

    // Sends the request up to five times until a usable answer is in m_Response. The match
    // pattern must have been set by the caller (ExecuteRequest sets the request's own).
    bool Execute(const uint8_t* request, uint32_t length, uint32_t expectedLength, int leadingFlag,
                 uint32_t readTimeoutMs);
    bool ExecuteRequest(const DiagRequest& request, int leadingFlag, uint32_t readTimeoutMs);

    bool DIAG_QueryBoardVersion(std::string* version = nullptr);
    bool DIAG_QueryISOVersion(std::string* version = nullptr);
    bool DIAG_SwitchToDownloader();
    // backupFlag 1 = backup, 0 = restore.
    bool DIAG_NV_BackupRestore(int backupFlag);
    bool DIAG_NV_QueryRestoreStatus();
    bool DIAG_Unlock(const uint8_t code[8]);
    // Both flags are set to 1 before anything is sent.
    bool DIAG_HandShake(int leadingFlag, int* forceLoad, int* offline);
    bool DIAG_Reset();
    bool DIAG_ChangeMode(uint8_t mode);
    bool DIAG_Read_NV(uint16_t item, uint8_t* destination, uint32_t length, uint16_t* status = nullptr);
    bool DIAG_Write_NV(uint16_t item, const uint8_t* source, uint32_t length, uint16_t* status = nullptr);
    // Sends the downloader write frame already built in the adapter's write buffer (the
    // caller has set the 5-byte acknowledgement pattern) and waits for its acknowledgement.
    // An answer naming the block (02 and its address) is taken as it comes. A bare 02 does
    // not say which request it answers: while acknowledgement-mode requests other than this
    // block's earlier tries may still be answered late, it is taken only when more bare
    // acknowledgements have arrived than such answers are owed; the others count as those
    // late answers, and the wait goes on. A late answer to an earlier try of the same block
    // is taken: it, too, says that the block was written.
    bool DIAG_Write(uint32_t frameLength);

    // Acknowledgement-mode requests (unlock, reset, block write) on this channel that got no
    // answer within their wait and may still be answered, as far as is known.
    uint32_t AcksOwed() const { return m_nAcksOwed; }
    // A new connection owes nothing: called when the channel is opened.
    void ForgetOwedAcks();

    const uint8_t* Response() const { return m_Response; }
    uint8_t* Response() { return m_Response; }
    uint32_t ResponseLength() const { return m_ResponseLength; }
    uint32_t* ResponseLengthPtr() { return &m_ResponseLength; }
    // The last answer: exactly the bytes that arrived.
    std::span<const uint8_t> Answer() const;

    // Answer interpreters. `response` is a full RESPONSE_SIZE buffer (bytes beyond the answer
    // hold the 0xCD filler), `length` the answer's length. They log as the commands do.
    static std::string ParseBoardVersion(const uint8_t* response);
    // True when a version follows (byte 4 is 0); `version` gets the text or "No version".
    static bool ParseISOVersion(const uint8_t* response, std::string* version);
    static bool InterpretBackupRestore(const uint8_t* response, int backupFlag, CDownloadLog* log);
    static bool InterpretRestoreStatus(const uint8_t* response, CDownloadLog* log);
    static bool InterpretHandShake(const uint8_t* response, uint32_t length, int* forceLoad, int* offline,
                                   CDownloadLog* log);
    // `prefix` is "DIAG_Read_NV" or "DIAG_Write_NV"; `isRead` selects the read column of the
    // status table (status 5 zero-fills the destination and succeeds).
    static bool InterpretNvStatus(const uint8_t* response, bool isRead, uint8_t* destination, uint32_t length,
                                  uint16_t* status, CDownloadLog* log);
    static const char* NvStatusText(uint16_t status);

private:
    // Log what an interpreted answer means and return the command's result.
    static bool LogBackupRestore(const DiagCodec::BackupRestoreResult& result, int backupFlag, CDownloadLog* log);
    static bool LogRestoreStatus(DiagCodec::RestoreStatus status, CDownloadLog* log);
    static bool LogNvStatus(std::span<const uint8_t> answer, bool isRead, uint8_t* destination, uint32_t length,
                            uint16_t* status, CDownloadLog* log);
    bool ExecuteNv(uint8_t command, uint16_t item, const uint8_t* source, uint32_t length, const char* name);
    // Reads one block acknowledgement within the block's wait; false after a time-out.
    bool ReadBlockAck(int attempt);
    // An acknowledgement-mode request got no answer in time: it may still come.
    void NoteUnanswered();
    // The same for a try of the block being written.
    void NoteUnansweredTry();
    void SetPattern(const uint8_t* bytes, uint32_t count);

    uint8_t m_Response[RESPONSE_SIZE] = {};
    uint32_t m_ResponseLength = 0;
    uint32_t m_nAcksOwed = 0;
    uint32_t m_nOwedToThisBlock = 0; // the part of m_nAcksOwed owed to the current block's tries
    uint32_t m_nBareAcksSeen = 0;    // the queue's bare acknowledgements accounted for
    CHdlcAdapter* m_pAdapter;
    CDownloadLog* m_pLog;
};
