// The dissector on crafted captures: the protocol's worked frames, a frame cut across TCP
// segments, record fields, error answers, and input no router sends (short, cut, unframed,
// random). Whatever the input, tshark shows no Lua error; the dissector says what is wrong.

#include <random>

#include "tests/support/Files.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/Strict.h"
#include "tests/support/TempDir.h"
#include "tests/wireshark/Tshark.h"

namespace {

using kivtest::Bytes;
using kivtest::Frame;
using kivtest::Hex;

enum class Transport { UDP, TCP };

struct Packet {
    Transport transport;
    bool toRouter;
    Bytes payload;
    size_t captured = SIZE_MAX; // payload bytes kept in the capture
};

void Put(Bytes& out, uint32_t value, int bytes, bool big = true)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> 8 * (big ? bytes - 1 - i : i)));
}

// A pcap file (Ethernet, IPv4) of `packets` between the tool (10.0.0.2, port 40000) and the
// router (10.0.0.1, port 1280); TCP sequence numbers follow the bytes sent each way.
std::string PcapOf(const std::vector<Packet>& packets)
{
    Bytes file;
    for (uint32_t word : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 262144u, 1u})
        Put(file, word, 4, false);
    uint32_t seq[2] = {1000, 50000}, second = 0;
    for (const Packet& p : packets) {
        const bool tcp = p.transport == Transport::TCP;
        Bytes frame = Hex("02 00 00 00 00 01 02 00 00 00 00 02 08 00 45 00");
        Put(frame, uint32_t(20 + (tcp ? 20 : 8) + p.payload.size()), 2);
        Put(frame, 0x00014000u, 4);
        Put(frame, tcp ? 0x40060000u : 0x40110000u, 4); // checksum left 0: not checked
        Put(frame, p.toRouter ? 0x0A000002u : 0x0A000001u, 4);
        Put(frame, p.toRouter ? 0x0A000001u : 0x0A000002u, 4);
        Put(frame, p.toRouter ? 40000u << 16 | 1280u : 1280u << 16 | 40000u, 4);
        if (tcp) {
            Put(frame, seq[p.toRouter ? 0 : 1], 4);
            Put(frame, seq[p.toRouter ? 1 : 0], 4);
            Put(frame, 0x5018FFFFu, 4);
            Put(frame, 0, 4);
            seq[p.toRouter ? 0 : 1] += uint32_t(p.payload.size());
        } else {
            Put(frame, uint32_t(8 + p.payload.size()) << 16, 4);
        }
        frame.insert(frame.end(), p.payload.begin(), p.payload.end());
        const size_t kept = std::min(frame.size(), p.captured == SIZE_MAX ? frame.size() : 54 + p.captured);
        for (uint32_t word : {++second, 0u, uint32_t(kept), uint32_t(frame.size())})
            Put(file, word, 4, false);
        file.insert(file.end(), frame.begin(), frame.begin() + long(kept));
    }
    return std::string(file.begin(), file.end());
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Packet Tcp(Bytes payload, bool toRouter = true) { return {Transport::TCP, toRouter, std::move(payload)}; }
Packet Udp(Bytes payload, bool toRouter = true) { return {Transport::UDP, toRouter, std::move(payload)}; }

// A record: type, IPv4 10.0.0.1, MAC 02-4B-49-56-00-01, text, zero to `size` bytes.
Bytes Record(uint8_t type, const std::string& text = "", size_t size = 32)
{
    Bytes record = Cat({{type}, Hex("0A 00 00 01 02 4B 49 56 00 01"), Bytes(text.begin(), text.end())});
    record.resize(size, 0);
    return record;
}

// A block write whose address and data need stuffing, cut in three: the cuts fall right after
// an escape byte, the second in the data.
const Bytes BLOCK = Frame(Hex("0F 7E 7D 00 00 00 08 7E 7D 00 01 02 03 7D 7E"), 1);
const long ESCAPE_CUT = [] {
    long cut = 6;
    while (BLOCK[size_t(cut - 1)] != 0x7D)
        ++cut;
    return cut;
}();
const Bytes HANDSHAKE = Cat({Hex("26 00 00 25 A7 00 06"), Bytes(126, 0)});
const Bytes BOARD_VERSION = Hex("4B C9 03 FF");

// A field's value in one packet (from 1): occurrences joined with '|'; "*" is "present",
// "-" is "absent".
struct Expect {
    int packet;
    std::string field;
    std::string value;
};

struct InputCase {
    const char* name;
    std::vector<Packet> packets;
    std::vector<Expect> expects;
    bool wellFormed; // no packet may be malformed to the dissector either
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.name; }

const InputCase CASES[] = {
    // Frames exactly as the protocol gives them, the FCS computed by hand.
    {"WorkedFrames",
     {Tcp(Hex("7E 0A 22 5F 7E")), Tcp(Hex("3A A1 6E 7E")), Tcp(Hex("29 01 00 31 40 7E")),
      Tcp(Hex("4B C9 03 FF E8 99 7E")), Tcp(Hex("7E 26 4C B4 7E")), Tcp(Hex("2A 20 7D 5E 7E")),
      Tcp(Hex("7D 5E 7D 5D F1 CD 7E")), Udp(Cat({Hex("7E 01"), Bytes(31, 0), Hex("12 BA 7E")}))},
     {{1, "kivupgrade.request", "reset"},
      {1, "kivupgrade.leading_flags", "1"},
      {2, "kivupgrade.request", "switch-to-downloader"},
      {2, "kivupgrade.leading_flags", "-"},
      {3, "kivupgrade.mode", "1"},
      {4, "kivupgrade.request", "board-version"},
      {5, "kivupgrade.request", "unlock-preamble"},
      {6, "kivupgrade.fcs", "0x7e20"}, // its low byte stuffed
      {6, "kivupgrade.fcs.status", "1"},
      {7, "kivupgrade.payload_length", "2"},
      {7, "kivupgrade.fcs.status", "1"},
      {8, "kivupgrade.request", "discovery"},
      {8, "kivupgrade.fcs.status", "1"}},
     true},
    {"RecordFields",
     {Udp(Frame(Record(1), 1)), Udp(Frame(Record(1, "1.2.3.4"), 1), false), Udp(Frame(Record(6), 1)),
      Udp(Frame(Record(6, "x"), 1), false)},
     {{2, "kivupgrade.record_type", "1"},
      {2, "kivupgrade.ip", "10.0.0.1"},
      {2, "kivupgrade.mac", "02:4b:49:56:00:01"},
      {2, "kivupgrade.text", "1.2.3.4"},
      {2, "kivupgrade.request_in", "1"},
      {3, "kivupgrade.request", "erase-nvram"},
      {4, "kivupgrade.echo.differs", "*"}},
     true},
    {"FrameAcrossSegments",
     {Tcp(Bytes(BLOCK.begin(), BLOCK.begin() + 5)), Tcp(Bytes(BLOCK.begin() + 5, BLOCK.begin() + ESCAPE_CUT)),
      Tcp(Bytes(BLOCK.begin() + ESCAPE_CUT, BLOCK.end())), Tcp(Frame(Hex("02 7E 7D 00 00"), 1), false)},
     {{1, "kivupgrade.request", "-"},
      {3, "kivupgrade.block.address", "0x7e7d0000"},
      {3, "kivupgrade.block.length", "8"},
      {3, "kivupgrade.fcs.status", "1"},
      {4, "kivupgrade.ack.address", "0x7e7d0000"},
      {4, "kivupgrade.request_in", "3"}},
     true},
    {"ErrorAnswers",
     {Tcp(Frame(BOARD_VERSION)), Tcp(Frame(Cat({{0x13}, BOARD_VERSION}), 1), false), Tcp(Frame(BOARD_VERSION)),
      Tcp(Frame(Cat({BOARD_VERSION, Hex("31 31 2E 36 0D"), Bytes(57, 0)}), 1), false)},
     {{2, "kivupgrade.answer", "error"},
      {2, "kivupgrade.error", "0x13"},
      {2, "kivupgrade.request_in", "1"},
      {4, "kivupgrade.version", "11.6"},
      {4, "kivupgrade.request_in", "3"}},
     true},
    {"ShortFrames",
     {Tcp(Hex("7E 0A 22 7E")), Tcp(Hex("7E 0A 22 5F 7D 7E")), Tcp(Frame(Hex("26 00 00 25 A7 00 06"), 1)),
      Tcp(Frame(Bytes(HANDSHAKE.begin(), HANDSHAKE.begin() + 15), 1), false), Tcp(Frame(Hex("77 01"), 1), false)},
     {{1, "kivupgrade.frame.short", "*"},
      {2, "kivupgrade.frame.escape", "*"},
      {2, "kivupgrade.fcs.status", "1"}, // the escape byte left out, the rest is a good frame
      {3, "kivupgrade.request", "hand-shake"},
      {3, "kivupgrade.length", "*"},
      {4, "kivupgrade.length", "*"},
      {5, "kivupgrade.unknown", "*"}},
     false},
    {"OddDatagrams",
     {Udp({}),
      Udp(Hex("7E")),
      Udp(Hex("7E 7E")),
      Udp(Frame(Record(10, "", 31), 1)),
      Udp(Cat({Hex("7E 0A 7E"), Frame(Record(10))})),
      {Transport::UDP, true, Frame(Record(7), 1), 20}},
     {{4, "kivupgrade.request", "ready-probe"},
      {4, "kivupgrade.length", "*"},
      {5, "kivupgrade.frame.flag", "*"},
      {6, "kivupgrade.truncated", "*"}},
     false},
    {"CutAndUnframedStreams",
     {{Transport::TCP, true, Frame(HANDSHAKE, 1), 40},
      Tcp(Bytes(9000, 0x55)),
      Tcp(Bytes(9000, 0x55)),
      Tcp(Hex("7E 26 00 00"), false)},
     {{1, "kivupgrade.truncated", "*"}, {3, "kivupgrade.frame.unterminated", "*"}},
     false},
};

class DissectorInput : public ::testing::TestWithParam<InputCase> {
protected:
    void SetUp() override
    {
        if (kivtest::TsharkProgram().empty())
            KIV_SKIP_OR_FAIL("tshark is not installed (scripts/deps.sh installs it)");
    }

    kivtest::TempDir m_Dir{"kiv-dissector"};
};

TEST_P(DissectorInput, EachPacketShowsWhatItIs)
{
    const InputCase& c = GetParam();
    ASSERT_TRUE(kivtest::WriteFile(m_Dir / "input.pcap", PcapOf(c.packets)));
    std::vector<std::string> fields;
    for (const Expect& expect : c.expects)
        fields.push_back(expect.field);
    const kivtest::Dissection input = kivtest::Dissect(m_Dir / "input.pcap", fields);
    ASSERT_TRUE(c.wellFormed ? kivtest::Clean(input) : kivtest::Readable(input));
    ASSERT_EQ(input.packets.size(), c.packets.size());
    for (const Expect& expect : c.expects) {
        std::string value;
        for (const std::string& one : input.Get(size_t(expect.packet - 1), expect.field))
            value += (value.empty() ? "" : "|") + one;
        if (expect.value == "*" || expect.value == "-")
            EXPECT_EQ(value.empty(), expect.value == "-") << "packet " << expect.packet << ": " << expect.field;
        else
            EXPECT_EQ(value, expect.value) << "packet " << expect.packet << ": " << expect.field;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DissectorInput, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<InputCase>& info) { return info.param.name; });

// Random packets both ways, mostly of the bytes the protocols are made of, some framed,
// some cut: read in one pass and in two, never a Lua error.
TEST_F(DissectorInput, RandomInputNeverEndsInALuaError)
{
    const Bytes alphabet = Hex("7E 7D 5E 5D 00 01 02 03 0A 0B 0F 13 26 29 3A 4B C9 FF 25 A7");
    std::mt19937 random(26);
    std::vector<Packet> packets;
    for (int i = 0; i < 400; ++i) {
        Packet p{random() % 2 ? Transport::UDP : Transport::TCP, random() % 2 == 0, {}};
        for (size_t n = random() % 3 ? random() % 48 : random() % 400; n > 0; --n)
            p.payload.push_back(random() % 4 ? alphabet[random() % alphabet.size()] : uint8_t(random()));
        if (random() % 4 == 0)
            p.payload = Frame(p.payload, int(random() % 2));
        if (random() % 10 == 0)
            p.captured = random() % (p.payload.size() + 1);
        packets.push_back(p);
    }
    ASSERT_TRUE(kivtest::WriteFile(m_Dir / "random.pcap", PcapOf(packets)));
    for (kivtest::Passes passes : {kivtest::Passes::ONE, kivtest::Passes::TWO}) {
        const kivtest::Dissection input = kivtest::Dissect(m_Dir / "random.pcap", {}, {}, passes);
        EXPECT_TRUE(kivtest::Readable(input));
        EXPECT_EQ(input.packets.size(), packets.size());
    }
}

} // namespace
