#include "tests/wireshark/Tshark.h"

#include <sstream>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace kivtest {

namespace {

// Wireshark's own fields for what went wrong, read with every dissection: an exception, a
// dissector bug, a Lua error; and the expert groups (0x07000000 is "malformed").
const std::vector<std::string> TROUBLE = {"_ws.malformed.expert", "_ws.malformed.dissector_bug", "_ws.lua.error"};
const char* const EXPERT_GROUP = "_ws.expert.group";
const char* const GROUP_MALFORMED = "117440512";
const char AGGREGATOR = '|';

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

} // namespace

std::string TsharkProgram() { return FindProgram("tshark"); }

const std::vector<std::string>& Dissection::Get(size_t index, const std::string& field) const
{
    return packets.at(index).at(field);
}

std::vector<std::string> Dissection::All(const std::string& field) const
{
    std::vector<std::string> all;
    for (size_t i = 0; i < packets.size(); ++i)
        all.insert(all.end(), Get(i, field).begin(), Get(i, field).end());
    return all;
}

Dissection Dissect(const std::string& capture, const std::vector<std::string>& fields,
                   const std::vector<std::string>& extra, Passes passes)
{
    TempDir home("kiv-tshark");
    std::vector<std::string> columns = {"frame.number", EXPERT_GROUP};
    columns.insert(columns.end(), TROUBLE.begin(), TROUBLE.end());
    columns.insert(columns.end(), fields.begin(), fields.end());
    std::vector<std::string> argv = {TsharkProgram(),
                                     "-n",
                                     "-r",
                                     capture,
                                     "-X",
                                     std::string("lua_script:") + KIV_DISSECTOR_SCRIPT,
                                     "-T",
                                     "fields",
                                     "-E",
                                     "occurrence=a",
                                     "-E",
                                     std::string("aggregator=") + AGGREGATOR};
    // A read filter makes the first of two passes dissect the TCP payload too.
    if (passes == Passes::TWO)
        argv.insert(argv.end(), {"-2", "-R", "frame"});
    argv.insert(argv.end(), extra.begin(), extra.end());
    for (const std::string& column : columns)
        argv.insert(argv.end(), {"-e", column});
    const RunResult run =
        RunProgram(argv, {{"HOME", home.Path()}, {"WIRESHARK_CONFIG_DIR", home / "config"}}, std::chrono::minutes(5));
    Dissection dissection{run.status, run.err, {}};
    for (const std::string& line : Split(run.out, '\n')) {
        std::vector<std::string> values = Split(line, '\t');
        values.resize(columns.size());
        auto& packet = dissection.packets.emplace_back();
        for (size_t i = 0; i < columns.size(); ++i)
            packet[columns[i]] = values[i].empty() ? std::vector<std::string>() : Split(values[i], AGGREGATOR);
    }
    return dissection;
}

::testing::AssertionResult Readable(const Dissection& dissection)
{
    if (dissection.status != 0 || dissection.packets.empty())
        return ::testing::AssertionFailure() << "tshark exit " << dissection.status << ": " << dissection.err;
    // A second copy of the dissector (one in a plugin folder) would be read instead.
    if (dissection.err.find("Lua") != std::string::npos || dissection.err.find("kivupgrade") != std::string::npos)
        return ::testing::AssertionFailure() << "not this tree's dissector alone: " << dissection.err;
    for (size_t i = 0; i < dissection.packets.size(); ++i) {
        for (const std::string& field : TROUBLE) {
            if (!dissection.Get(i, field).empty())
                return ::testing::AssertionFailure()
                       << "packet " << dissection.Number(i) << ": " << field << " " << dissection.Get(i, field)[0];
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Clean(const Dissection& dissection)
{
    ::testing::AssertionResult readable = Readable(dissection);
    for (size_t i = 0; readable && i < dissection.packets.size(); ++i) {
        const std::vector<std::string>& groups = dissection.Get(i, EXPERT_GROUP);
        if (std::find(groups.begin(), groups.end(), GROUP_MALFORMED) != groups.end())
            return ::testing::AssertionFailure() << "packet " << dissection.Number(i) << " is malformed";
    }
    return readable;
}

} // namespace kivtest
