#pragma once

#include <mutex>
#include <string>

#include "platform/NonCopyable.h"

// The download log: time-stamped lines collected in memory and appended to
// "KivUpgradeLog.txt" in the user's temporary directory when flushed.
class CDownloadLog : public NonCopyable {
public:
    static constexpr const char* kFileName = "KivUpgradeLog.txt";
    static constexpr size_t kMessageBufferChars = 1040;

    // Log file in the temporary directory; disabled when there is none.
    CDownloadLog();
    // Log file at an explicit path (tests, tools); an empty path disables the log.
    explicit CDownloadLog(const std::string& path);
    ~CDownloadLog() override;

    // Appends "<stamp> <message>\r\n" to the pending lines.
    void AddLine(const std::string& message);

    // Appends the pending lines to the file. False when disabled, when nothing is pending,
    // or when the file cannot be opened or written; lines not written stay pending.
    bool Flush();

    const std::string& GetPath() const { return m_strPath; }
    bool IsEnabled() const { return m_bEnabled; }
    std::string GetPending() const;

private:
    mutable std::mutex m_Mutex;
    std::string m_strPending;
    std::string m_strPath;
    bool m_bEnabled;
};

// printf-style message into the log (cut to fit 1040 characters). Always returns true.
bool LogPrintf(CDownloadLog* log, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool LogPrintf(CDownloadLog& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
