#include "sim/CTranscript.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/Clock.h"

namespace {

// Violations echoed to standard error before it falls silent (a flood must not flood the
// terminal too); all of them still go to the transcript and the count.
constexpr uint32_t MAX_REPORTED_VIOLATIONS = 50;

std::string WallClock()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return text;
}

} // namespace

CTranscript::CTranscript() : m_StartTick(GetTickCount()) {}

CTranscript::~CTranscript()
{
    if (m_File != nullptr)
        std::fclose(m_File);
}

bool CTranscript::Open(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        error = "cannot open transcript '" + path + "': " + std::strerror(errno);
        return false;
    }
    if (m_File != nullptr)
        std::fclose(m_File);
    m_File = file;
    m_bOpen = true;
    return true;
}

std::string CTranscript::Hex(const uint8_t* bytes, size_t length)
{
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i != 0)
            text += ' ';
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 15];
    }
    return text;
}

void CTranscript::Message(const char* proto, const char* dir, uint32_t conn, const nlohmann::json& fields,
                          const uint8_t* bytes, size_t length)
{
    if (!m_bOpen)
        return;
    nlohmann::json record = {{"proto", proto}, {"dir", dir}, {"conn", conn}};
    record.update(fields);
    Write(std::move(record), bytes, length);
}

void CTranscript::Violation(const char* proto, uint32_t conn, const std::string& what, const uint8_t* bytes,
                            size_t length)
{
    const uint32_t count = ++m_Violations;
    nlohmann::json record = {{"proto", proto},      {"dir", "in"},       {"conn", conn},
                             {"kind", "violation"}, {"violation", what}, {"count", count}};
    if (m_bEcho && m_Reported.fetch_add(1) < MAX_REPORTED_VIOLATIONS)
        std::fprintf(stderr, "kivrouter-sim: protocol violation (%s): %s\n", proto, what.c_str());
    if (!m_bOpen)
        return;
    Write(std::move(record), bytes, length);
}

void CTranscript::Event(const char* proto, uint32_t conn, const std::string& what, const nlohmann::json& fields)
{
    if (!m_bOpen)
        return;
    nlohmann::json record = {{"proto", proto}, {"dir", "-"}, {"conn", conn}, {"kind", "event"}, {"event", what}};
    record.update(fields);
    Write(std::move(record), nullptr, 0);
}

void CTranscript::Write(nlohmann::json record, const uint8_t* bytes, size_t length)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_File == nullptr)
        return;
    record["time"] = WallClock();
    record["tick"] = GetTickCount() - m_StartTick;
    if (bytes != nullptr) {
        record["length"] = length;
        const size_t shown = length < MAX_HEX_BYTES ? length : MAX_HEX_BYTES;
        record["hex"] = Hex(bytes, shown);
        if (shown < length)
            record["truncated"] = true;
    }
    // Replace invalid UTF-8 (peer text) instead of throwing.
    const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fputs(line.c_str(), m_File);
    std::fputc('\n', m_File);
    std::fflush(m_File);
}
