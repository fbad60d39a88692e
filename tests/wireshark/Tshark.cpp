#include "tests/wireshark/Tshark.h"

#include <sstream>

#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace kivtest {

namespace {

// Wireshark's own fields that say something went wrong, read with every dissection: an
// exception while dissecting (a read beyond the packet), a Lua error, and the expert groups
// (a dissector's own "malformed" expert info is in group PI_MALFORMED).
const char* const MALFORMED = "_ws.malformed.expert";
const char* const DISSECTOR_BUG = "_ws.malformed.dissector_bug";
const char* const LUA_ERROR = "_ws.lua.error";
const char* const EXPERT_GROUP = "_ws.expert.group";
// The expert group of malformed packets (PI_MALFORMED), as tshark prints it.
const char* const GROUP_MALFORMED = "117440512";
const char AGGREGATOR = '|';

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

} // namespace

std::string TsharkProgram() { return FindProgram("tshark"); }

std::string DissectorScript() { return KIV_DISSECTOR_SCRIPT; }

const std::vector<std::string>& Dissection::Get(size_t index, const std::string& field) const
{
    static const std::vector<std::string> none;
    const auto column = m_Columns.find(field);
    if (index >= m_Packets.size() || column == m_Columns.end()) {
        ADD_FAILURE() << "no packet " << index << " or no field " << field << " read";
        return none;
    }
    return m_Packets[index][column->second];
}

int Dissection::Number(size_t index) const
{
    const std::vector<std::string>& number = Get(index, "frame.number");
    return number.empty() ? -1 : std::stoi(number[0]);
}

std::vector<std::string> Dissection::All(const std::string& field) const
{
    std::vector<std::string> all;
    for (size_t i = 0; i < m_Packets.size(); ++i) {
        const std::vector<std::string>& values = Get(i, field);
        all.insert(all.end(), values.begin(), values.end());
    }
    return all;
}

size_t Dissection::IndexOf(int number) const
{
    for (size_t i = 0; i < m_Packets.size(); ++i) {
        if (Number(i) == number)
            return i;
    }
    return m_Packets.size();
}

Dissection Dissect(const std::string& capture, const std::vector<std::string>& fields,
                   const std::vector<std::string>& extra, Passes passes)
{
    TempDir home("kiv-tshark");
    std::vector<std::string> all = {"frame.number", MALFORMED, DISSECTOR_BUG, LUA_ERROR, EXPERT_GROUP};
    all.insert(all.end(), fields.begin(), fields.end());
    std::vector<std::string> argv = {TsharkProgram(),
                                     "-n",
                                     "-r",
                                     capture,
                                     "-X",
                                     "lua_script:" + DissectorScript(),
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
    Dissection dissection;
    for (size_t i = 0; i < all.size(); ++i) {
        argv.insert(argv.end(), {"-e", all[i]});
        dissection.m_Columns[all[i]] = i;
    }
    const RunResult run =
        RunProgram(argv, {{"HOME", home.Path()}, {"WIRESHARK_CONFIG_DIR", home / "config"}}, std::chrono::minutes(5));
    dissection.status = run.status;
    dissection.err = run.err;
    for (const std::string& line : Split(run.out, '\n')) {
        if (line.empty())
            continue;
        std::vector<std::vector<std::string>> packet;
        for (const std::string& column : Split(line, '\t'))
            packet.push_back(column.empty() ? std::vector<std::string>() : Split(column, AGGREGATOR));
        packet.resize(all.size());
        dissection.m_Packets.push_back(std::move(packet));
    }
    return dissection;
}

::testing::AssertionResult Readable(const Dissection& dissection)
{
    if (dissection.status != 0)
        return ::testing::AssertionFailure() << "tshark exit " << dissection.status << ": " << dissection.err;
    // A second copy of the dissector (one installed in a plugin folder) would be read instead.
    if (dissection.err.find("kivupgrade.lua") != std::string::npos || dissection.err.find("Lua") != std::string::npos)
        return ::testing::AssertionFailure() << "tshark did not read this tree's dissector alone: " << dissection.err;
    if (dissection.Packets() == 0)
        return ::testing::AssertionFailure() << "no packet read";
    for (size_t i = 0; i < dissection.Packets(); ++i) {
        const int number = dissection.Number(i);
        if (!dissection.Get(i, LUA_ERROR).empty())
            return ::testing::AssertionFailure() << "packet " << number << ": " << dissection.Get(i, LUA_ERROR)[0];
        for (const char* field : {MALFORMED, DISSECTOR_BUG}) {
            if (!dissection.Get(i, field).empty())
                return ::testing::AssertionFailure()
                       << "packet " << number << ": " << field << " " << dissection.Get(i, field)[0];
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Clean(const Dissection& dissection)
{
    ::testing::AssertionResult readable = Readable(dissection);
    if (!readable)
        return readable;
    for (size_t i = 0; i < dissection.Packets(); ++i) {
        const int number = dissection.Number(i);
        for (const std::string& group : dissection.Get(i, EXPERT_GROUP)) {
            if (group == GROUP_MALFORMED)
                return ::testing::AssertionFailure() << "packet " << number << " is malformed to the dissector";
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace kivtest
