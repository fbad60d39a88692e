#pragma once

// tshark with the dissector of this tree (tools/wireshark/kivupgrade.lua) on a capture file.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kivtest {

// tshark in PATH; "" when it is not installed.
std::string TsharkProgram();
// The dissector of this tree.
std::string DissectorScript();

// TWO: a request shows its answer's packet, and a frame cut into segments is shown once
// whole. ONE: as `tshark -r FILE` reads it, each segment shown as it comes.
enum class Passes { ONE, TWO };

// The packets of a capture as the dissector shows them: per packet, the values of each field
// asked for (a field may occur several times in one packet, or not at all).
class Dissection {
public:
    int status = -1;
    std::string err; // tshark's standard error

    size_t Packets() const { return m_Packets.size(); }
    // The values of `field` in packet `index` (from 0, in capture order).
    const std::vector<std::string>& Get(size_t index, const std::string& field) const;
    // The packet number (as tshark counts, from 1) of packet `index`.
    int Number(size_t index) const;
    // The values of `field` over all packets, in order.
    std::vector<std::string> All(const std::string& field) const;
    // Index of the packet numbered `number`; Packets() when there is none.
    size_t IndexOf(int number) const;

private:
    friend Dissection Dissect(const std::string&, const std::vector<std::string>&, const std::vector<std::string>&,
                              Passes);
    std::map<std::string, size_t> m_Columns;
    std::vector<std::vector<std::vector<std::string>>> m_Packets;
};

// Reads `capture` with the fields `fields` and the extra tshark arguments `extra` (-o
// kivupgrade.port:N). The personal configuration and plugin folders are empty ones of its own.
Dissection Dissect(const std::string& capture, const std::vector<std::string>& fields,
                   const std::vector<std::string>& extra = {}, Passes passes = Passes::TWO);

// Success when tshark read the whole capture with this tree's dissector and no packet shows
// a Lua error or an exception (a read beyond the packet).
::testing::AssertionResult Readable(const Dissection& dissection);
// Readable, and no packet is malformed to the dissector either.
::testing::AssertionResult Clean(const Dissection& dissection);

} // namespace kivtest
