#include "tests/support/CliRun.h"

namespace kivtest {

const nlohmann::json* CliRun::Row(const std::string& type) const
{
    if (!json.contains("rows"))
        return nullptr;
    for (const auto& row : json["rows"]) {
        if (row["type"].get<std::string>().rfind(type, 0) == 0)
            return &row;
    }
    return nullptr;
}

std::string CliRun::Cell(const std::string& type, const char* field) const
{
    const nlohmann::json* row = Row(type);
    return row ? (*row)[field].get<std::string>() : std::string("<no row " + type + ">");
}

} // namespace kivtest
