#include "log/CDownloadLog.h"

#include <fcntl.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/FileLock.h"
#include "platform/LocalTime.h"
#include "platform/TextCodec.h"
#include "platform/UserFiles.h"

namespace {

std::string TimeStamp()
{
    const std::tm local = LocalTime(std::time(nullptr));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    return stamp;
}

std::string FormatMessage(const char* format, va_list args)
{
    char buffer[CDownloadLog::MESSAGE_BUFFER_CHARS];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) {
        va_end(again);
        return std::string();
    }
    if (static_cast<size_t>(n) < sizeof buffer) {
        va_end(again);
        return buffer;
    }
    // The message was cut. Cut the whole text instead, so that the cut never ends inside a
    // UTF-8 sequence (the buffer's own cut may split one).
    std::string full(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(full.data(), full.size(), format, again);
    va_end(again);
    full.resize(static_cast<size_t>(n));
    return TruncateUtf8(full, sizeof buffer - 1);
}

// A message as it goes into the file: printable, so that `cat` of the log cannot be driven
// by what a router, an image or a directory name put into it (no escape sequence, no lone
// carriage return), and a line break inside a message as CR LF. Cut to the message buffer.
std::string PrintableMessage(const std::string& message)
{
    std::string text;
    text.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
            continue; // CR LF is kept as the line feed
        text.push_back(message[i]);
    }
    text = TruncateUtf8(MakePrintable(text, true), CDownloadLog::MESSAGE_BUFFER_CHARS - 1);
    std::string lines;
    lines.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            lines.push_back('\r');
        lines.push_back(c);
    }
    return lines;
}

} // namespace

CDownloadLog::CDownloadLog()
{
    std::string why;
    std::string dir = GetTempDirectory(&why);
    m_bEnabled = !dir.empty();
    if (m_bEnabled)
        m_strPath = dir + FILE_NAME;
    else
        m_strError = why + "; the download log is not written";
}

CDownloadLog::CDownloadLog(const std::string& path) : m_strPath(path), m_bEnabled(!path.empty()) {}

CDownloadLog::~CDownloadLog() { Flush(); }

void CDownloadLog::AddLine(const std::string& message)
{
    std::string line = TimeStamp();
    line += PrintableMessage(message);
    line += "\r\n";
    FailureHandler handler;
    std::string why;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_strPending += line;
        if (m_bEnabled)
            WritePendingLocked();
        KeepWithinLimitLocked();
        handler = TakeFailureHandlerLocked(why);
    }
    // Outside the lock: the handler may log or wait for its view.
    if (handler)
        handler(why);
}

std::string CDownloadLog::GetPending() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_strPending;
}

std::string CDownloadLog::GetWriteError() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_strError;
}

void CDownloadLog::SetFailureHandler(FailureHandler handler)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_FailureHandler = std::move(handler);
}

bool CDownloadLog::Flush()
{
    FailureHandler handler;
    std::string why;
    bool written = false;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!m_bEnabled || m_strPending.empty())
            return false;
        written = WritePendingLocked();
        handler = TakeFailureHandlerLocked(why);
    }
    if (handler)
        handler(why);
    return written;
}

bool CDownloadLog::WritePendingLocked()
{
    if (m_strPending.empty())
        return true;
    CUniqueFd fd = OpenUserFile(m_strPath, O_WRONLY | O_APPEND, true);
    if (!fd.Valid()) {
        m_strError = DescribeOpenError(m_strPath, errno);
        return false;
    }
    // Another copy of the program appending at the same moment waits for us.
    if (!LockWholeFile(fd.Get())) {
        m_strError = m_strPath + " cannot be locked: " + std::strerror(errno);
        return false;
    }
    size_t written = WriteAll(fd.Get(), m_strPending.data(), m_strPending.size());
    const int error = errno;
    // Whatever reached the file is gone from memory; the rest waits for the next try.
    m_strPending.erase(0, written);
    if (!m_strPending.empty()) {
        m_strError = "writing " + m_strPath + " failed: " + std::strerror(error);
        return false;
    }
    m_strError = m_nDroppedLines == 0 ? std::string()
                                      : std::to_string(m_nDroppedLines) + " lines could not be written to " +
                                            m_strPath + " and were dropped";
    return true;
}

void CDownloadLog::KeepWithinLimitLocked()
{
    if (m_strPending.size() <= MAX_PENDING_BYTES)
        return;
    // Drop the oldest whole lines down to half the limit, so that a log which cannot be
    // written does not move a megabyte for every new line.
    const size_t cut = m_strPending.find("\r\n", m_strPending.size() - MAX_PENDING_BYTES / 2);
    const size_t end = cut == std::string::npos ? m_strPending.size() : cut + 2;
    for (size_t at = m_strPending.find("\r\n"); at != std::string::npos && at < end;
         at = m_strPending.find("\r\n", at + 2))
        ++m_nDroppedLines;
    m_strPending.erase(0, end);
}

CDownloadLog::FailureHandler CDownloadLog::TakeFailureHandlerLocked(std::string& why)
{
    if (m_strError.empty() || m_bFailureReported || !m_FailureHandler)
        return {};
    m_bFailureReported = true;
    why = m_strError;
    return m_FailureHandler;
}

namespace {

bool VLogPrintf(CDownloadLog* log, const char* format, va_list args)
{
    if (log != nullptr)
        log->AddLine(FormatMessage(format, args));
    return true;
}

} // namespace

bool LogPrintf(CDownloadLog* log, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool result = VLogPrintf(log, format, args);
    va_end(args);
    return result;
}

bool LogPrintf(CDownloadLog& log, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool result = VLogPrintf(&log, format, args);
    va_end(args);
    return result;
}
