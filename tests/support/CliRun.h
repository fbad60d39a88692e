#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace kivtest {

// One finished run of kivupgrade-cli: exit status, both outputs, and the JSON document of
// standard output when --json was given and it parsed.
struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    nlohmann::json json;

    // The row whose type column starts with `type`, or null.
    const nlohmann::json* Row(const std::string& type) const;
    // A text field of that row, or "<no row TYPE>".
    std::string Cell(const std::string& type, const char* field) const;
};

} // namespace kivtest
