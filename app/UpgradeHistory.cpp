#include "app/UpgradeHistory.h"

#include <cstdio>
#include <vector>

#include "images/CBinFile.h"
#include "platform/CReadOnlyFile.h"
#include "platform/CSha256.h"
#include "platform/TextCodec.h"
#include "platform/UserState.h"
#include "platform/Utf8Path.h"
#include "res/Resources.h"

namespace {

constexpr size_t HASH_CHUNK = 64 * 1024;

// A JSON string of a text made printable (so valid UTF-8 without control characters).
std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : MakePrintable(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A text, or null when it is empty.
std::string JsonStringOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

std::string ComponentJson(const HistoryComponent& c)
{
    return "{\"type\":" + JsonString(c.type) + ",\"oldVersion\":" + JsonStringOrNull(c.oldVersion) +
           ",\"imageVersion\":" + JsonString(c.imageVersion) + ",\"newVersion\":" + JsonStringOrNull(c.newVersion) +
           ",\"image\":" + JsonString(c.image) + ",\"sha256\":" + JsonStringOrNull(c.sha256) +
           ",\"result\":" + JsonString(c.result) + ",\"status\":" + JsonString(c.status) + "}";
}

} // namespace

std::string UpgradeHistoryPath(std::string* why)
{
    const std::string state = UserStateDirectory(why);
    // With the system's own separator throughout (...\kivupgrade\history.jsonl on Windows).
    return state.empty() ? std::string() : Utf8FromPath(PathFromUtf8(state + HISTORY_FILE).make_preferred());
}

std::string HistoryJsonLine(const HistoryRecord& record)
{
    std::string components;
    for (const HistoryComponent& c : record.components)
        components += (components.empty() ? "" : ",") + ComponentJson(c);
    return "{\"time\":" + JsonString(record.time) + ",\"router\":{\"ip\":" + JsonString(record.routerIp) +
           ",\"mac\":" + JsonString(record.routerMac) + "},\"result\":\"" + (record.succeeded ? "success" : "failure") +
           "\",\"resultText\":" + JsonString(record.resultText) +
           ",\"durationSeconds\":" + std::to_string(record.durationSeconds) + ",\"components\":[" + components + "]}";
}

bool AppendHistory(const std::string& path, const HistoryRecord& record, std::string& why)
{
    return AppendUserLine(path, HistoryJsonLine(record), why);
}

std::string UtcTimestamp(std::chrono::system_clock::time_point at)
{
    using namespace std::chrono;
    const auto day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{floor<seconds>(at - day)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string ImageSha256(const CBinFile& image)
{
    CSha256 sha;
    if (image.GetResourceId() != 0) {
        const auto bytes = LoadResourceBytes(image.GetResourceId(), "BINARY");
        if (!bytes)
            return std::string();
        sha.Update(bytes->data, bytes->size);
        return sha.FinalHex();
    }
    CReadOnlyFile file;
    if (!file.Open(image.GetPath()))
        return std::string();
    std::vector<uint8_t> chunk(HASH_CHUNK);
    for (uint64_t pos = 0; pos < file.Size(); pos += chunk.size()) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(chunk.size(), file.Size() - pos));
        if (file.ReadAt(pos, chunk.data(), length) != 0)
            return std::string();
        sha.Update(chunk.data(), length);
    }
    return sha.FinalHex();
}
