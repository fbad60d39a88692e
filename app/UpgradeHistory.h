#pragma once

#include <chrono>
#include <string>
#include <vector>

class CBinFile;

// The user's upgrade history: one JSON object per line, appended once per upgrade run and
// never rewritten, in <state directory>/kivupgrade/history.jsonl (see platform/UserState.h).
// It outlives the download log, which lives in the temporary directory.

// One component of a run: what the router had, what was sent, what it reports now.
struct HistoryComponent {
    int component = 0;        // component index (not written)
    std::string type;         // the row's type name
    std::string oldVersion;   // read by the check before the run (empty: not read)
    std::string imageVersion; // the image's version
    std::string newVersion;   // read back from the router after the run (empty: not read back)
    std::string image;        // the image file, or "embedded image ID"
    std::string sha256;       // of the image's bytes (empty: they could not be read)
    std::string result;       // "written", "failed" or "not attempted"
    std::string status;       // the row's last status text
};

// One upgrade run.
struct HistoryRecord {
    std::string time; // start, UTC, "YYYY-MM-DDTHH:MM:SSZ"
    std::string routerIp;
    std::string routerMac;
    bool succeeded = false;
    std::string resultText; // the run's result ("Download successfully", or why it failed)
    long long durationSeconds = 0;
    std::vector<HistoryComponent> components;
};

// Where the history file goes within the state directory.
constexpr const char* HISTORY_FILE = "kivupgrade/history.jsonl";

// The history file of this user; empty, with `why` set, when there is no state directory.
std::string UpgradeHistoryPath(std::string* why = nullptr);

// The record as one line of JSON (no line feed). Every text is made printable first.
std::string HistoryJsonLine(const HistoryRecord& record);

// Appends the record to the history at `path`. False, with `why` set, when it was not.
bool AppendHistory(const std::string& path, const HistoryRecord& record, std::string& why);

// "YYYY-MM-DDTHH:MM:SSZ" of a time.
std::string UtcTimestamp(std::chrono::system_clock::time_point at);

// The SHA-256 of an open image's bytes (the file's, or the embedded resource's); empty
// when they cannot be read.
std::string ImageSha256(const CBinFile& image);
