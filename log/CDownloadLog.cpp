#include "log/CDownloadLog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>

#include "platform/TextCodec.h"
#include "platform/UserFiles.h"

namespace {

std::string TimeStamp()
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    return stamp;
}

std::string FormatMessage(const char* format, va_list args)
{
    char buffer[CDownloadLog::kMessageBufferChars];
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

} // namespace

CDownloadLog::CDownloadLog()
{
    std::string dir = GetTempDirectory();
    m_bEnabled = !dir.empty();
    if (m_bEnabled)
        m_strPath = dir + kFileName;
}

CDownloadLog::CDownloadLog(const std::string& path) : m_strPath(path), m_bEnabled(!path.empty()) {}

CDownloadLog::~CDownloadLog() { Flush(); }

void CDownloadLog::AddLine(const std::string& message)
{
    std::string line = TimeStamp();
    line += message;
    line += "\r\n";
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_strPending += line;
}

std::string CDownloadLog::GetPending() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_strPending;
}

bool CDownloadLog::Flush()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_bEnabled || m_strPending.empty())
        return false;
    UniqueFd fd = OpenUserFile(m_strPath, O_WRONLY | O_APPEND, true);
    if (!fd.Valid())
        return false;
    // Another copy of the program appending at the same moment waits for us.
    if (flock(fd.Get(), LOCK_EX) != 0)
        return false;
    size_t written = WriteAll(fd.Get(), m_strPending.data(), m_strPending.size());
    // Whatever reached the file is gone from memory; the rest waits for the next flush.
    m_strPending.erase(0, written);
    return m_strPending.empty();
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
