#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wire/DiagCodec.h"
#include "wire/DiagRequest.h"

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
    // not say which request it answers: while an acknowledgement-mode request other than
    // this block's tries may still be answered late, a bare 02 is taken for that late
    // answer and the wait goes on for this try's own. A late answer is owed only for one
    // more wait of its request after that request's own wait ended (an answer comes within
    // its wait, or late while the next request waits, or never); once it is due no longer,
    // the bare 02 set aside for it is this try's answer after all, and the block is taken
    // without being written again. A late answer to an earlier try of the same block is
    // taken: it, too, says that the block was written.
    bool DIAG_Write(uint32_t frameLength);

    // Acknowledgement-mode requests (unlock, reset, block write) on this channel that got no
    // answer within their wait and may still be answered, as far as is known.
    uint32_t AcksOwed() const;
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
    // An answer still owed to an acknowledgement-mode request: since when (the end of the
    // request's wait) and for how long (one more wait of that request).
    struct OwedAnswer {
        uint32_t since = 0;
        uint32_t windowMs = 0;
        bool thisBlock = false; // owed to a try of the block being written
    };
    // Bare acknowledgements taken for late answers during one block wait, and when the last
    // of those answers would have been due no longer.
    struct SetAside {
        uint32_t count = 0;
        uint32_t since = 0;
        uint32_t windowMs = 0;
    };
    static constexpr size_t MAX_OWED = 64;

    // Reads one block acknowledgement within the block's wait; false after a time-out.
    bool ReadBlockAck(int attempt);
    // Takes `arrived` bare acknowledgements: first for answers owed elsewhere (recorded in
    // `aside`), the rest for this block's tries. True when at least one was this block's.
    bool TakeBareAcks(uint32_t arrived, SetAside& aside);
    // This try was answered (`answers` answers for this block's tries came in all): what its
    // tries are still owed is one answer per try less those that came.
    void SettleThisBlock(uint32_t answers);
    // An acknowledgement-mode request got no answer within `windowMs`: it may still come.
    void NoteUnanswered(uint32_t windowMs, bool thisBlock = false);
    // Forgets the owed answers whose window has passed.
    void DropExpired();
    void SetPattern(const uint8_t* bytes, uint32_t count);

    uint8_t m_Response[RESPONSE_SIZE] = {};
    uint32_t m_ResponseLength = 0;
    std::vector<OwedAnswer> m_Owed; // oldest first
    uint32_t m_nBareAcksSeen = 0;   // the queue's bare acknowledgements accounted for
    CHdlcAdapter* m_pAdapter;
    CDownloadLog* m_pLog;
};
