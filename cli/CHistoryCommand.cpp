#include "cli/CHistoryCommand.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/TextCodec.h"
#include "platform/Utf8Path.h"

namespace {

// A text field of `object`, or `missing` when it is absent or not a text.
std::string Text(const nlohmann::json& object, const char* key, const char* missing = "")
{
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? MakePrintable(it->get<std::string>()) : std::string(missing);
}

} // namespace

CHistoryCommand::CHistoryCommand(std::string path) : m_strPath(std::move(path)) {}

bool CHistoryCommand::Load()
{
    m_Runs.clear();
    m_nSkipped = 0;
    std::ifstream in(PathFromUtf8(m_strPath), std::ios::binary);
    if (!in.is_open()) {
        if (errno == ENOENT)
            return true;
        m_strError = m_strPath + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        nlohmann::json run = nlohmann::json::parse(line, nullptr, false);
        if (run.is_object())
            m_Runs.push_back(std::move(run));
        else
            ++m_nSkipped;
    }
    if (in.bad()) {
        m_strError = m_strPath + ": read failed";
        return false;
    }
    return true;
}

std::string CHistoryCommand::FormatRun(const nlohmann::json& run)
{
    const nlohmann::json router = run.value("router", nlohmann::json::object());
    std::string out = Text(run, "time", "?") + "  router " + Text(router, "ip", "?") + " (MAC " +
                      Text(router, "mac", "?") + ")  " + Text(run, "result", "?");
    if (const std::string text = Text(run, "resultText"); !text.empty())
        out += ": " + text;
    if (const auto it = run.find("durationSeconds"); it != run.end() && it->is_number_integer())
        out += "  " + std::to_string(it->get<long long>()) + " s";
    out += "\n";
    for (const nlohmann::json& c : run.value("components", nlohmann::json::array())) {
        if (!c.is_object())
            continue;
        const std::string readBack = Text(c, "newVersion");
        out += "  " + Text(c, "type", "?") + ": " + Text(c, "oldVersion", "(not read)") + " -> " +
               Text(c, "imageVersion", "?") + ", " + Text(c, "result", "?") +
               (readBack.empty() ? std::string(", not read back") : ", reads back " + readBack) + "\n";
        out += "    " + Text(c, "image", "?") + "  sha256 " + Text(c, "sha256", "(unread)") + "\n";
    }
    return out;
}

std::string CHistoryCommand::FormatText() const
{
    if (m_Runs.empty())
        return "No upgrade has been recorded yet (" + MakePrintable(m_strPath) + ").\n";
    std::string out = "Upgrade history: " + MakePrintable(m_strPath) + "\n";
    for (const nlohmann::json& run : m_Runs)
        out += "\n" + FormatRun(run);
    return out;
}

std::string CHistoryCommand::FormatJson() const
{
    return nlohmann::json(m_Runs).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
