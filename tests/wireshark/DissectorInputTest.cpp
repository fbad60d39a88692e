// The dissector on crafted captures: the protocol's worked frames, frames and router image
// data cut across TCP segments, answers linked to their requests, and input no router sends
// (short, cut, unframed, random). Whatever the input, tshark shows no Lua error; the
// dissector says what is wrong with it.

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

constexpr uint16_t TOOL_PORT = 40000;
constexpr uint16_t ROUTER_PORT = 1280;
constexpr size_t WHOLE = SIZE_MAX;

enum class Transport { UDP, TCP };
enum class Way { TO_ROUTER, FROM_ROUTER };

struct Packet {
    Transport transport;
    Way way;
    Bytes payload;
    size_t captured = WHOLE; // bytes of the packet kept in the capture
};

void Put16(Bytes& out, uint32_t v, bool big = true)
{
    out.push_back(uint8_t(big ? v >> 8 : v));
    out.push_back(uint8_t(big ? v : v >> 8));
}

void Put32(Bytes& out, uint32_t v, bool big = true)
{
    Put16(out, big ? v >> 16 : v, big);
    Put16(out, big ? v : v >> 16, big);
}

// A capture file (pcap, Ethernet, IPv4) of `packets` between the tool (10.0.0.2, port 40000)
// and the router (10.0.0.1, port 1280); TCP sequence numbers follow the bytes sent each way.
std::string PcapOf(const std::vector<Packet>& packets)
{
    Bytes file;
    Put32(file, 0xA1B2C3D4, false);
    Put16(file, 2, false);
    Put16(file, 4, false);
    Put32(file, 0, false);
    Put32(file, 0, false);
    Put32(file, 262144, false);
    Put32(file, 1, false); // Ethernet
    uint32_t seq[2] = {1000, 50000};
    uint32_t second = 1;
    for (const Packet& packet : packets) {
        const bool toRouter = packet.way == Way::TO_ROUTER;
        const bool tcp = packet.transport == Transport::TCP;
        Bytes frame = Hex("02 00 00 00 00 01 02 00 00 00 00 02 08 00");
        Bytes ip = Hex("45 00");
        Put16(ip, uint32_t(20 + (tcp ? 20 : 8) + packet.payload.size()));
        ip.insert(ip.end(), {0x00, 0x01, 0x40, 0x00, 0x40, uint8_t(tcp ? 6 : 17), 0x00, 0x00});
        const Bytes tool = {10, 0, 0, 2}, router = {10, 0, 0, 1};
        ip.insert(ip.end(), (toRouter ? tool : router).begin(), (toRouter ? tool : router).end());
        ip.insert(ip.end(), (toRouter ? router : tool).begin(), (toRouter ? router : tool).end());
        uint32_t sum = 0;
        for (size_t i = 0; i < ip.size(); i += 2)
            sum += uint32_t(ip[i] << 8 | ip[i + 1]);
        while (sum > 0xFFFF)
            sum = (sum & 0xFFFF) + (sum >> 16);
        ip[10] = uint8_t(~sum >> 8);
        ip[11] = uint8_t(~sum);
        frame.insert(frame.end(), ip.begin(), ip.end());
        Put16(frame, toRouter ? TOOL_PORT : ROUTER_PORT);
        Put16(frame, toRouter ? ROUTER_PORT : TOOL_PORT);
        if (tcp) {
            Put32(frame, seq[toRouter ? 0 : 1]);
            Put32(frame, seq[toRouter ? 1 : 0]);
            frame.insert(frame.end(), {0x50, 0x18, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00});
            seq[toRouter ? 0 : 1] += uint32_t(packet.payload.size());
        } else {
            Put16(frame, uint32_t(8 + packet.payload.size()));
            Put16(frame, 0);
        }
        frame.insert(frame.end(), packet.payload.begin(), packet.payload.end());
        const size_t kept = std::min(packet.captured == WHOLE ? frame.size() : 54 + packet.captured, frame.size());
        Put32(file, second++, false);
        Put32(file, 0, false);
        Put32(file, uint32_t(kept), false);
        Put32(file, uint32_t(frame.size()), false);
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

Packet ToRouter(Bytes payload, Transport transport = Transport::TCP) { return {transport, Way::TO_ROUTER, payload}; }
Packet FromRouter(Bytes payload, Transport transport = Transport::TCP)
{
    return {transport, Way::FROM_ROUTER, payload};
}

// A 32-byte record: type, IPv4, MAC, text.
Bytes Record(uint8_t type, const std::string& text = "", size_t size = 32)
{
    Bytes record = Cat({{type}, Hex("0A 00 00 01 02 4B 49 56 00 01")});
    record.insert(record.end(), text.begin(), text.end());
    record.resize(size, 0);
    return record;
}

// The 40-byte router control packet: 0xFF, a 29-byte text, a 32-bit value (little-endian).
Bytes Control(const std::string& text, uint32_t value)
{
    Bytes packet = {0xFF};
    packet.insert(packet.end(), text.begin(), text.end());
    packet.resize(30, 0);
    Put32(packet, value, false);
    packet.resize(40, 0);
    return packet;
}

Bytes Repeat(uint8_t byte, size_t n) { return Bytes(n, byte); }

Bytes WithFlagAt(Bytes frame, size_t at)
{
    frame.insert(frame.begin() + long(at), 0x7E);
    return frame;
}

// A field's value in one packet (numbered from 1): occurrences joined with '|'; "*" stands for
// "present", "-" for "absent".
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

// A block write whose address and data need stuffing, and the same frame cut in three: the
// second cut falls between an escape byte and the byte it escapes.
const Bytes BLOCK_WRITE =
    Frame(Cat({Hex("0F 7E 7D 00 00 00 10"), Hex("7E 7D 7E 7D 00 01 02 03 04 05 06 07 08 09 7D 7E")}), 1);
const Bytes HANDSHAKE = Cat({Hex("26 00 00 25 A7 00 06"), Repeat(0, 126)});
const Bytes BOARD_VERSION = Hex("4B C9 03 FF");
const Bytes BOARD_ANSWER = Cat({BOARD_VERSION, Bytes{'1', '1', '.', '6', '0', '8', 0x0D}, Repeat(0, 55)});

size_t EscapeSplit()
{
    for (size_t i = 1; i < BLOCK_WRITE.size(); ++i) {
        if (BLOCK_WRITE[i - 1] == 0x7D && i > 20)
            return i;
    }
    return BLOCK_WRITE.size() / 2;
}

const InputCase CASES[] = {
    {"WorkedFrames",
     {ToRouter(Hex("7E 0A 22 5F 7E")), ToRouter(Hex("3A A1 6E 7E")), ToRouter(Hex("29 01 00 31 40 7E")),
      ToRouter(Hex("4B C9 03 FF E8 99 7E")), ToRouter(Hex("7E 26 4C B4 7E")), ToRouter(Hex("2A 20 7D 5E 7E")),
      ToRouter(Hex("7D 5E 7D 5D F1 CD 7E"))},
     {{1, "kivupgrade.request", "reset"},
      {1, "kivupgrade.leading_flags", "1"},
      {2, "kivupgrade.request", "switch-to-downloader"},
      {2, "kivupgrade.leading_flags", "-"},
      {3, "kivupgrade.request", "change-mode"},
      {3, "kivupgrade.mode", "1"},
      {4, "kivupgrade.request", "board-version"},
      {5, "kivupgrade.request", "unlock-preamble"},
      // FCS 0x7E20: its low byte stuffed.
      {6, "kivupgrade.fcs", "0x7e20"},
      {6, "kivupgrade.fcs.status", "1"},
      {7, "kivupgrade.payload_length", "2"},
      {7, "kivupgrade.fcs.status", "1"}},
     true},
    {"DiscoveryExchange",
     {ToRouter(Cat({Hex("7E 01"), Repeat(0, 31), Hex("12 BA 7E")}), Transport::UDP),
      FromRouter(Frame(Record(1, "1.2.3.4"), 1), Transport::UDP), ToRouter(Frame(Record(10), 1), Transport::UDP),
      FromRouter(Frame(Record(10), 1), Transport::UDP)},
     {{1, "kivupgrade.record_type", "1"},
      {1, "kivupgrade.request", "discovery"},
      {1, "kivupgrade.fcs.status", "1"},
      {1, "kivupgrade.answer_in", "2"},
      {2, "kivupgrade.answer", "discovery"},
      {2, "kivupgrade.ip", "10.0.0.1"},
      {2, "kivupgrade.mac", "02:4b:49:56:00:01"},
      {2, "kivupgrade.text", "1.2.3.4"},
      {2, "kivupgrade.request_in", "1"},
      {3, "kivupgrade.request", "ready-probe"},
      {4, "kivupgrade.answer", "ready-probe"},
      {4, "kivupgrade.request_in", "3"},
      {4, "kivupgrade.echo.differs", "-"}},
     true},
    {"EchoThatDiffers",
     {ToRouter(Frame(Record(6), 1), Transport::UDP), FromRouter(Frame(Record(6, "x"), 1), Transport::UDP)},
     {{2, "kivupgrade.answer", "erase-nvram"}, {2, "kivupgrade.echo.differs", "*"}},
     true},
    {"FrameAcrossSegments",
     {ToRouter(Bytes(BLOCK_WRITE.begin(), BLOCK_WRITE.begin() + 5)),
      ToRouter(Bytes(BLOCK_WRITE.begin() + 5, BLOCK_WRITE.begin() + long(EscapeSplit()))),
      ToRouter(Bytes(BLOCK_WRITE.begin() + long(EscapeSplit()), BLOCK_WRITE.end())),
      FromRouter(Frame(Hex("02 7E 7D 00 00"), 1))},
     {{1, "kivupgrade.request", "-"},
      {3, "kivupgrade.request", "block-write"},
      {3, "kivupgrade.block.address", "0x7e7d0000"},
      {3, "kivupgrade.block.length", "16"},
      {3, "kivupgrade.fcs.status", "1"},
      {3, "kivupgrade.answer_in", "4"},
      {4, "kivupgrade.answer", "block-ack"},
      {4, "kivupgrade.ack.address", "0x7e7d0000"},
      {4, "kivupgrade.request_in", "3"}},
     true},
    {"RouterImageDataIsNotFramed",
     {ToRouter(Frame(Control("Varoni RUT Begin Download Pkt", 20), 1)),
      ToRouter(Hex("7E 7D 7E 7E 7D 7E 7E 7E 7D 7E 02 03")),
      ToRouter(Cat({Hex("7E 7E 7D 7E 7E 7D 7E 7E"), Frame(BOARD_VERSION)})), FromRouter(Frame(Control("", 4), 1))},
     {{1, "kivupgrade.request", "control-packet"},
      {1, "kivupgrade.image.length", "20"},
      {1, "kivupgrade.control.kind", "0"},
      {1, "kivupgrade.answer_in", "4"},
      {2, "kivupgrade.image.offset", "0"},
      {2, "kivupgrade.request", "-"},
      {3, "kivupgrade.image.offset", "12"},
      {3, "kivupgrade.request", "board-version"},
      {4, "kivupgrade.answer", "router-result"},
      {4, "kivupgrade.result", "4"},
      {4, "kivupgrade.request_in", "1"}},
     true},
    {"FirmwareControlPackets",
     {ToRouter(Frame(Control("Varoni FWT Begin Download Pkt", 0), 1)),
      ToRouter(Frame(Control("Varoni FWT Force Download Pkt", 0), 1)), ToRouter(Frame(HANDSHAKE))},
     {{1, "kivupgrade.control.kind", "1"},
      {2, "kivupgrade.control.kind", "2"},
      {3, "kivupgrade.request", "hand-shake"},
      {3, "kivupgrade.image.offset", "-"}},
     true},
    {"ErrorsAndRefusals",
     {ToRouter(Frame(BOARD_VERSION)), FromRouter(Frame(Cat({{0x13}, BOARD_VERSION}), 1)),
      ToRouter(Frame(Cat({{0x0B}, Bytes{'F', 'W', 'A', '0', '0', '0', '0', '1'}}), 1)),
      FromRouter(Frame(Hex("03 00 05"), 1)), ToRouter(Frame(BOARD_VERSION)), FromRouter(Frame(BOARD_ANSWER, 1))},
     {{2, "kivupgrade.answer", "error"},
      {2, "kivupgrade.error", "0x13"},
      {2, "kivupgrade.request_in", "1"},
      {3, "kivupgrade.unlock_code", "FWA00001"},
      {4, "kivupgrade.answer", "nak"},
      {4, "kivupgrade.nak.reason", "0x0005"},
      {4, "kivupgrade.request_in", "3"},
      {6, "kivupgrade.version", "11.608"},
      {6, "kivupgrade.request_in", "5"}},
     true},
    {"BadFcs",
     {ToRouter(Hex("7E 0A 22 5E 7E")), FromRouter(Frame(Hex("02"), 1))},
     {{1, "kivupgrade.request", "reset"},
      {1, "kivupgrade.fcs.status", "0"},
      {1, "kivupgrade.fcs.bad", "*"},
      {2, "kivupgrade.fcs.status", "1"},
      {2, "kivupgrade.fcs.bad", "-"}},
     true},
    {"ShortFrames",
     {ToRouter(Hex("7E 0A 22 7E")), ToRouter(Hex("7E 0A 22 5F 7D 7E")), ToRouter(Frame(Hex("26 00 00 25 A7 00 06"), 1)),
      FromRouter(Frame(Bytes(HANDSHAKE.begin(), HANDSHAKE.begin() + 15), 1)), FromRouter(Frame(Hex("77 01 02"), 1))},
     {{1, "kivupgrade.frame.short", "*"},
      {2, "kivupgrade.frame.escape", "*"},
      {2, "kivupgrade.fcs.status", "1"}, // the escape byte left out, the rest is a good frame
      {3, "kivupgrade.request", "hand-shake"},
      {3, "kivupgrade.length", "*"},
      {4, "kivupgrade.answer", "hand-shake"},
      {4, "kivupgrade.length", "*"},
      {5, "kivupgrade.answer", "unknown"},
      {5, "kivupgrade.unknown", "*"}},
     false},
    {"OddDatagrams",
     {ToRouter(Bytes(), Transport::UDP),
      ToRouter(Hex("7E"), Transport::UDP),
      ToRouter(Hex("7E 7E"), Transport::UDP),
      ToRouter(Frame(Record(10, "", 31), 1), Transport::UDP),
      ToRouter(WithFlagAt(Frame(Record(10), 1), 9), Transport::UDP),
      {Transport::UDP, Way::TO_ROUTER, Frame(Record(7), 1), 20}},
     {{4, "kivupgrade.request", "ready-probe"},
      {4, "kivupgrade.length", "*"},
      {5, "kivupgrade.frame.flag", "*"},
      {6, "kivupgrade.truncated", "*"}},
     false},
    {"CutAndUnframedStreams",
     {{Transport::TCP, Way::TO_ROUTER, Frame(HANDSHAKE, 1), 40},
      ToRouter(Repeat(0x55, 9000)),
      ToRouter(Repeat(0x55, 9000)),
      FromRouter(Hex("7E 26 00 00"))},
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

std::string Joined(const std::vector<std::string>& values)
{
    std::string joined;
    for (const std::string& value : values)
        joined += (joined.empty() ? "" : "|") + value;
    return joined;
}

TEST_P(DissectorInput, EachPacketShowsWhatItIs)
{
    const InputCase& c = GetParam();
    const std::string capture = m_Dir / "input.pcap";
    ASSERT_TRUE(kivtest::WriteFile(capture, PcapOf(c.packets)));
    std::vector<std::string> fields;
    for (const Expect& expect : c.expects)
        fields.push_back(expect.field);
    const kivtest::Dissection input = kivtest::Dissect(capture, fields);
    ASSERT_TRUE(c.wellFormed ? kivtest::Clean(input) : kivtest::Readable(input));
    ASSERT_EQ(input.Packets(), c.packets.size());
    for (const Expect& expect : c.expects) {
        const std::string value = Joined(input.Get(size_t(expect.packet - 1), expect.field));
        if (expect.value == "*")
            EXPECT_FALSE(value.empty()) << "packet " << expect.packet << ": no " << expect.field;
        else if (expect.value == "-")
            EXPECT_TRUE(value.empty()) << "packet " << expect.packet << ": " << expect.field << " " << value;
        else
            EXPECT_EQ(value, expect.value) << "packet " << expect.packet << ": " << expect.field;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DissectorInput, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<InputCase>& info) { return info.param.name; });

// Random packets both ways, in bytes the protocols are made of: whatever comes, tshark shows
// no Lua error and no malformed mark of its own.
TEST(DissectorRandomInput, NeverALuaError)
{
    if (kivtest::TsharkProgram().empty())
        KIV_SKIP_OR_FAIL("tshark is not installed (scripts/deps.sh installs it)");
    const uint8_t alphabet[] = {0x7E, 0x7D, 0x5E, 0x5D, 0x00, 0x01, 0x02, 0x03, 0x0A, 0x0B,
                                0x0F, 0x13, 0x26, 0x29, 0x3A, 0x4B, 0xC9, 0xFF, 0x25, 0xA7};
    std::mt19937 random(26);
    std::vector<Packet> packets;
    for (int i = 0; i < 400; ++i) {
        Packet packet{random() % 2 ? Transport::UDP : Transport::TCP,
                      random() % 2 ? Way::TO_ROUTER : Way::FROM_ROUTER,
                      {}};
        const size_t length = random() % 3 == 0 ? random() % 400 : random() % 48;
        for (size_t j = 0; j < length; ++j)
            packet.payload.push_back(random() % 4 == 0 ? uint8_t(random()) : alphabet[random() % sizeof alphabet]);
        // Now and then a well-formed frame of random content, or a cut packet.
        if (random() % 4 == 0)
            packet.payload = Frame(packet.payload, int(random() % 2));
        if (random() % 10 == 0)
            packet.captured = random() % (packet.payload.size() + 1);
        packets.push_back(packet);
    }
    kivtest::TempDir dir("kiv-dissector");
    ASSERT_TRUE(kivtest::WriteFile(dir / "random.pcap", PcapOf(packets)));
    for (kivtest::Passes passes : {kivtest::Passes::ONE, kivtest::Passes::TWO}) {
        const kivtest::Dissection input = kivtest::Dissect(dir / "random.pcap", {}, {}, passes);
        EXPECT_TRUE(kivtest::Readable(input));
        EXPECT_EQ(input.Packets(), packets.size());
    }
}

} // namespace
