#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// "kivupgrade-cli history": the user's upgrade history (see app/UpgradeHistory.h), every
// run with what each component had, got and was sent, for people or as one JSON array.
class CHistoryCommand {
public:
    // The history at `path`.
    explicit CHistoryCommand(std::string path);

    // Reads the file. False only when it exists and cannot be read; a missing file is an
    // empty history. A line that is not a JSON object is skipped and counted.
    bool Load();

    // Call after Load: the runs for people, oldest first, or the JSON array of them.
    std::string FormatText() const;
    std::string FormatJson() const;
    const std::string& Error() const { return m_strError; }
    size_t SkippedLines() const { return m_nSkipped; }

private:
    static std::string FormatRun(const nlohmann::json& run);

    std::string m_strPath;
    std::vector<nlohmann::json> m_Runs;
    std::string m_strError;
    size_t m_nSkipped = 0;
};
