#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "platform/NonCopyable.h"

// The download log: time-stamped lines appended to "KivUpgradeLog.txt" in the user's
// temporary directory. Every line goes to the file as it is logged, so a run that is killed
// or crashes leaves everything up to its last line. A line that cannot be written stays in
// memory and goes out with the next line or flush.
class CDownloadLog : public NonCopyable {
public:
    static constexpr const char* FILE_NAME = "KivUpgradeLog.txt";
    static constexpr size_t MESSAGE_BUFFER_CHARS = 1040;
    // Lines kept in memory while the file cannot be written; beyond this the oldest go.
    static constexpr size_t MAX_PENDING_BYTES = 1 << 20;

    // Told why, once: the first time a line cannot be written (on the thread that logged it).
    using FailureHandler = std::function<void(const std::string& why)>;

    // Log file in the temporary directory; disabled (and saying why) when there is none.
    CDownloadLog();
    // Log file at an explicit path (tests, tools); an empty path disables the log quietly
    // and keeps the lines in memory.
    explicit CDownloadLog(const std::string& path);
    ~CDownloadLog() override;

    // Appends "<stamp> <message>\r\n" to the file, after any lines still pending. The message
    // is made printable first: control characters and bytes that are no text become
    // U+FFFD, a line break inside it becomes CR LF.
    void AddLine(const std::string& message);

    // Writes the pending lines. False when disabled, when nothing is pending, or when the
    // file cannot be opened or written; lines not written stay pending.
    bool Flush();

    const std::string& GetPath() const { return m_strPath; }
    bool IsEnabled() const { return m_bEnabled; }
    // Lines not (yet) in the file.
    std::string GetPending() const;
    // Why lines are not reaching the file (the last failed write, or why there is no file
    // at all); empty while everything logged is in the file.
    std::string GetWriteError() const;
    // Installs the handler for the first failed write; an empty function removes it.
    void SetFailureHandler(FailureHandler handler);

private:
    // With the lock held: writes what is pending; false (and m_strError set) on failure.
    bool WritePendingLocked();
    void KeepWithinLimitLocked();
    // With the lock held: the handler to call for a new failure, once per log.
    FailureHandler TakeFailureHandlerLocked(std::string& why);

    mutable std::mutex m_Mutex;
    std::string m_strPending;
    std::string m_strPath;
    bool m_bEnabled;
    std::string m_strError;
    size_t m_nDroppedLines = 0;
    FailureHandler m_FailureHandler;
    bool m_bFailureReported = false;
};

// printf-style message into the log (cut to fit 1040 characters). Always returns true.
bool LogPrintf(CDownloadLog* log, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool LogPrintf(CDownloadLog& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
