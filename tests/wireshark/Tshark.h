#pragma once

// tshark with the dissector of this tree (tools/wireshark/kivupgrade.lua) on a capture file.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kivtest {

// tshark in PATH; "" when it is not installed.
std::string TsharkProgram();

// TWO: a request shows its answer's packet, a frame cut into segments is shown once, whole.
// ONE: as `tshark -r FILE` reads it, each segment as it comes.
enum class Passes { ONE, TWO };

// A capture as the dissector shows it: per packet (in capture order), the values of each
// field asked for; a field may occur several times in one packet, or not at all.
struct Dissection {
    int status = -1;
    std::string err; // tshark's standard error
    std::vector<std::map<std::string, std::vector<std::string>>> packets;

    const std::vector<std::string>& Get(size_t index, const std::string& field) const;
    // The packet number (from 1) of packet `index`.
    int Number(size_t index) const { return std::stoi(Get(index, "frame.number").at(0)); }
    // The values of `field` over all packets, in order.
    std::vector<std::string> All(const std::string& field) const;
};

// Reads `capture` with `fields` (and frame.number) and the extra tshark arguments `extra`
// (-o kivupgrade.port:N). The personal configuration and plugin folders are empty ones.
Dissection Dissect(const std::string& capture, const std::vector<std::string>& fields,
                   const std::vector<std::string>& extra = {}, Passes passes = Passes::TWO);

// Success when tshark read the capture with this tree's dissector (no other copy) and no
// packet shows a Lua error or an exception (a read beyond the packet).
::testing::AssertionResult Readable(const Dissection& dissection);
// Readable, and no packet is malformed to the dissector either.
::testing::AssertionResult Clean(const Dissection& dissection);

} // namespace kivtest
