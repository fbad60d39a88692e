// Sessions of kivupgrade-cli with the virtual router, recorded by tcpdump on the loopback of
// a network namespace of the test's own (the router's real ports, an Ethernet MTU so frames
// span segments) and read back with the dissector. What the dissector shows is held against
// the simulator's transcript and against the image files themselves.

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"
#include "tests/support/SimFixture.h"
#include "tests/support/Strict.h"
#include "tests/support/TestLan.h"
#include "tests/support/Wait.h"
#include "tests/wireshark/Tshark.h"

namespace {

using kivtest::Dissection;

constexpr uint32_t FILE_HEADER_SIZE = 92;
constexpr uint32_t PART_HEADER_SIZE = 98;
constexpr uint32_t BLOCK_SIZE = 4096;
// A datagram to the discard port that says every packet before it is in the capture file.
const char* const END_MARKER = "KIVCAPTUREEND";

uint32_t Le32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= uint32_t(uint8_t(bytes.at(at + i))) << (8 * i);
    return value;
}

struct Part {
    uint32_t address;
    uint32_t length;
};

// The parts of an image file (target address, data length), read from its bytes.
std::vector<Part> PartsOf(const std::string& path)
{
    const std::string bytes = kivtest::ReadFile(path);
    std::vector<Part> parts;
    size_t at = FILE_HEADER_SIZE;
    while (at + PART_HEADER_SIZE <= bytes.size()) {
        const uint32_t headerSize = Le32(bytes, at + 4);
        const Part part{Le32(bytes, at + 20), Le32(bytes, at + 24)};
        parts.push_back(part);
        const size_t used = size_t(headerSize) + part.length;
        at += used + (4 - used % 4) % 4;
    }
    return parts;
}

using Block = std::pair<uint32_t, uint32_t>; // address, length

// The block writes of a wireless image: each part in blocks of 4096 bytes from its address.
std::vector<Block> BlocksOf(const std::string& path)
{
    std::vector<Block> blocks;
    for (const Part& part : PartsOf(path)) {
        for (uint32_t done = 0; done < part.length; done += BLOCK_SIZE)
            blocks.emplace_back(part.address + done, std::min(BLOCK_SIZE, part.length - done));
    }
    return blocks;
}

// The last `n` bytes of a file.
std::string Tail(const std::string& path, std::streamoff n)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return std::string();
    const std::streamoff size = in.tellg();
    in.seekg(std::max<std::streamoff>(0, size - n));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Session {
    const char* name;
    const char* family;                      // samples "a" or "b"
    std::vector<std::string> routerImages;   // in the order they are sent
    std::vector<std::string> wirelessImages; // firmware, then dashboard
    std::vector<std::string> simArgs;
    const char* command;
    int port;           // the router's UDP and TCP port
    int refusedBlock;   // the block write the simulator refuses (nak-block), 0 for none
    bool corruptAnswer; // one frame of the simulator carries a wrong FCS (corrupt-fcs)
};

void PrintTo(const Session& session, std::ostream* out) { *out << session.name; }

const Session SESSIONS[] = {
    {"FamilyAUpgrade",
     "a",
     {"boot.bin", "app.bin", "customization.bin"},
     {"firmware.bin", "dashboard_ZQPX.bin"},
     {},
     "upgrade",
     1280,
     0,
     false},
    {"FamilyBUpgrade",
     "b",
     {"common_html.bin", "special_html.bin", "app.bin", "config.bin"},
     {"firmware.bin", "dashboard.bin"},
     {"--family", "B"},
     "upgrade",
     1280,
     0,
     false},
    {"RefusedBlock", "a", {}, {"firmware.bin"}, {"--fault", "nak-block=3"}, "upgrade", 1280, 3, false},
    // A check (the board version's answer is corrupted), on another port: read with the
    // dissector's port preference.
    {"BadFcs", "a", {"boot.bin"}, {"firmware.bin"}, {"--fault", "corrupt-fcs=2"}, "check", 5080, 0, true},
};

const std::vector<std::string> FIELDS = {
    "tcp.stream",
    "tcp.len",
    "frame.protocols",
    "kivupgrade.request",
    "kivupgrade.answer",
    "kivupgrade.request_in",
    "kivupgrade.answer_in",
    "kivupgrade.block.address",
    "kivupgrade.block.length",
    "kivupgrade.image.length",
    "kivupgrade.fcs.status",
    "kivupgrade.fcs.bad",
    "kivupgrade.nak.reason",
};

class WireCapture : public kivtest::CliFixture, public ::testing::WithParamInterface<Session> {
protected:
    void SetUp() override
    {
        if (kivtest::TsharkProgram().empty())
            KIV_SKIP_OR_FAIL("tshark is not installed (scripts/deps.sh installs it)");
        m_strTcpdump = kivtest::FindProgram("tcpdump", "/usr/sbin:/sbin");
        if (m_strTcpdump.empty())
            KIV_SKIP_OR_FAIL("tcpdump is not installed (scripts/deps.sh installs it)");
        KIV_REQUIRE_PROGRAM(kivtest::BuildProgram(kivtest::CLI_PROGRAM));
        KIV_REQUIRE_PROGRAM(kivtest::SimProcess::Program());
        m_pLan = std::make_unique<kivtest::TestLan>(std::vector<std::string>{"wire"});
        std::string why;
        const std::string ns = m_pLan->Ns("wire");
        // An Ethernet MTU, and no larger segments handed down whole: frames span segments.
        if (!m_pLan->Make({{"-n", ns, "link", "set", "lo", "mtu", "1500", "gso_max_size", "1500", "up"}}, why))
            KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + why + ")");
    }

    // Records `session` into m_Dir/capture.pcap.
    void Record(const Session& session)
    {
        const std::string port = std::to_string(session.port);
        const std::string images = m_Dir / "images";
        std::filesystem::create_directories(images);
        for (const std::string& name : session.routerImages)
            ASSERT_TRUE(
                kivtest::WriteFile(images + "/" + name, kivtest::ReadFile(Samples(session.family) + "/" + name)));
        for (const std::string& name : session.wirelessImages)
            ASSERT_TRUE(
                kivtest::WriteFile(images + "/" + name, kivtest::ReadFile(Samples(session.family) + "/" + name)));

        kivtest::Process tcpdump;
        ASSERT_TRUE(tcpdump.Start(
            m_pLan->In("wire", {m_strTcpdump, "-i", "lo", "-s", "0", "-U", "--immediate-mode", "-B", "16384", "-Z",
                                "root", "-w", Capture(),
                                "udp port " + port + " or tcp port " + port + " or tcp port 23 or udp port 9"})))
            << tcpdump.Error();
        ASSERT_TRUE(
            tcpdump.ReadUntil([](const std::string&,
                                 const std::string& err) { return err.find("listening on") != std::string::npos; },
                              std::chrono::milliseconds(kivtest::GUARD_MS)))
            << tcpdump.Err();

        kivtest::SimOptions options;
        options.prefix = m_pLan->In("wire", {});
        options.routerPort = port;
        options.telnetPort = "23";
        options.timeScale = kivtest::TelnetTimeScale();
        options.transcript = m_Dir / "transcript.jsonl";
        ASSERT_TRUE(m_Sim.Start(session.simArgs, options));

        kivtest::Process cli;
        ASSERT_TRUE(cli.Start(m_pLan->In("wire", {kivtest::BuildProgram(kivtest::CLI_PROGRAM), session.command,
                                                  "--target", "127.0.0.1", "--router-port", port, "--telnet-port", "23",
                                                  "--images", images, "--json"}),
                              CliEnv()))
            << cli.Error();
        const kivtest::CliRun run = Finish(cli, std::chrono::seconds(300));
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        StopSim();

        // tcpdump writes packet by packet: once the marker is in the file, all before it are.
        const kivtest::RunResult marker = kivtest::RunProgram(
            m_pLan->In("wire", {"/bin/bash", "-c", std::string("printf ") + END_MARKER + " >/dev/udp/127.0.0.1/9"}));
        ASSERT_EQ(marker.status, 0) << marker.err;
        EXPECT_TRUE(kivtest::WaitFor([&] { return Tail(Capture(), 4096).find(END_MARKER) != std::string::npos; },
                                     kivtest::GUARD_MS));
        EXPECT_EQ(tcpdump.Stop(SIGINT), 0) << tcpdump.Err();
        EXPECT_NE(tcpdump.Err().find("\n0 packets dropped by kernel"), std::string::npos) << tcpdump.Err();
    }

    std::string Capture() const { return m_Dir / "capture.pcap"; }

    // The requests the simulator's transcript lists, per protocol ("udp", "tcp"), in order.
    std::vector<std::string> TranscriptRequests(const std::string& proto) const
    {
        std::vector<std::string> names;
        for (const nlohmann::json& record : kivtest::ParseJsonLines(Transcript())) {
            if (record.value("dir", "") != "in" || record.value("proto", "") != proto)
                continue;
            if (record.value("kind", "") == "frame")
                names.push_back(record.value("request", "?"));
            else if (record.value("kind", "") == "record")
                names.push_back(record.value("name", "?"));
        }
        return names;
    }

    std::string m_strTcpdump;
    std::unique_ptr<kivtest::TestLan> m_pLan;
};

// The requests the dissector names, per protocol, in capture order.
std::vector<std::string> CaptureRequests(const Dissection& capture, bool tcp)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < capture.Packets(); ++i) {
        if (capture.Get(i, "tcp.stream").empty() != tcp) {
            const std::vector<std::string>& requests = capture.Get(i, "kivupgrade.request");
            names.insert(names.end(), requests.begin(), requests.end());
        }
    }
    return names;
}

std::vector<Block> CaptureBlocks(const Dissection& capture)
{
    const std::vector<std::string> addresses = capture.All("kivupgrade.block.address");
    const std::vector<std::string> lengths = capture.All("kivupgrade.block.length");
    EXPECT_EQ(addresses.size(), lengths.size());
    std::vector<Block> blocks;
    for (size_t i = 0; i < std::min(addresses.size(), lengths.size()); ++i)
        blocks.emplace_back(std::stoul(addresses[i], nullptr, 16), std::stoul(lengths[i]));
    return blocks;
}

// Every answer names the packet of its request, every request the packet of its answer, and
// the two agree.
void ExpectLinked(const Dissection& capture)
{
    std::vector<int> answers, answerIns;
    for (size_t i = 0; i < capture.Packets(); ++i) {
        const std::vector<std::string>& names = capture.Get(i, "kivupgrade.answer");
        const std::vector<std::string>& requestIns = capture.Get(i, "kivupgrade.request_in");
        EXPECT_EQ(names.size(), requestIns.size()) << "packet " << capture.Number(i) << ": answers without request";
        for (const std::string& requestIn : requestIns) {
            const size_t request = capture.IndexOf(std::stoi(requestIn));
            ASSERT_LT(request, i) << "packet " << capture.Number(i);
            EXPECT_FALSE(capture.Get(request, "kivupgrade.request").empty()) << "packet " << capture.Number(i);
        }
        answers.insert(answers.end(), names.size(), capture.Number(i));
        for (const std::string& answerIn : capture.Get(i, "kivupgrade.answer_in"))
            answerIns.push_back(std::stoi(answerIn));
    }
    std::sort(answerIns.begin(), answerIns.end());
    EXPECT_EQ(answerIns, answers);
    EXPECT_FALSE(answers.empty());
}

TEST_P(WireCapture, TheDissectorReadsTheSessionAsTheRouterSawIt)
{
    const Session& session = GetParam();
    ASSERT_NO_FATAL_FAILURE(Record(session));
    std::vector<std::string> extra;
    if (session.port != 1280)
        extra = {"-o", "kivupgrade.port:" + std::to_string(session.port)};
    const Dissection capture = kivtest::Dissect(Capture(), FIELDS, extra);
    ASSERT_TRUE(kivtest::Clean(capture));

    // Every request, in the simulator's words and order.
    EXPECT_EQ(CaptureRequests(capture, false), TranscriptRequests("udp"));
    EXPECT_EQ(CaptureRequests(capture, true), TranscriptRequests("tcp"));
    ExpectLinked(capture);

    // Router images: the begin packets announce part 0's length; the blocks written to the
    // wireless module are the images' parts. A check writes nothing.
    const bool upgrade = std::string(session.command) == "upgrade";
    std::vector<std::string> lengths;
    for (const std::string& name : session.routerImages) {
        if (upgrade)
            lengths.push_back(std::to_string(PartsOf(Samples(session.family) + "/" + name).at(0).length));
    }
    EXPECT_EQ(capture.All("kivupgrade.image.length"), lengths);
    std::vector<Block> expected;
    for (const std::string& name : upgrade ? session.wirelessImages : std::vector<std::string>()) {
        const std::vector<Block> blocks = BlocksOf(Samples(session.family) + "/" + name);
        expected.insert(expected.end(), blocks.begin(), blocks.end());
    }
    std::vector<Block> written = CaptureBlocks(capture);
    if (session.refusedBlock > 0) {
        // The refused block is written again, at once.
        const size_t refused = size_t(session.refusedBlock - 1);
        ASSERT_LT(refused + 1, written.size());
        EXPECT_EQ(written[refused], written[refused + 1]);
        written.erase(written.begin() + refused);
        const std::vector<std::string> answers = capture.All("kivupgrade.answer");
        ASSERT_EQ(std::count(answers.begin(), answers.end(), "nak"), 1);
        for (size_t i = 0; i < capture.Packets(); ++i) {
            if (capture.Get(i, "kivupgrade.nak.reason").empty())
                continue;
            EXPECT_EQ(std::stoul(capture.Get(i, "kivupgrade.nak.reason").at(0), nullptr, 0), 6u);
            const size_t request = capture.IndexOf(std::stoi(capture.Get(i, "kivupgrade.request_in").at(0)));
            ASSERT_LT(request, capture.Packets());
            EXPECT_EQ(std::stoul(capture.Get(request, "kivupgrade.block.address").at(0), nullptr, 16),
                      expected.at(refused).first);
        }
    }
    EXPECT_EQ(written, expected);

    // A frame with a wrong FCS is flagged: the one the simulator corrupted, and no other.
    const std::vector<std::string> status = capture.All("kivupgrade.fcs.status");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(std::count(status.begin(), status.end(), "0"), session.corruptAnswer ? 1 : 0);
    if (session.corruptAnswer) {
        std::string corrupted;
        for (const nlohmann::json& record : kivtest::ParseJsonLines(Transcript())) {
            if (record.value("fault", "") == "corrupt-fcs")
                corrupted = record.value("answer", "");
        }
        ASSERT_FALSE(corrupted.empty()) << "no corrupted frame in the transcript";
        for (size_t i = 0; i < capture.Packets(); ++i) {
            const std::vector<std::string>& fcs = capture.Get(i, "kivupgrade.fcs.status");
            if (std::find(fcs.begin(), fcs.end(), "0") == fcs.end())
                continue;
            EXPECT_EQ(capture.Get(i, "kivupgrade.answer"), std::vector<std::string>{corrupted});
            EXPECT_EQ(capture.Get(i, "kivupgrade.fcs.bad").size(), 1u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, WireCapture, ::testing::ValuesIn(SESSIONS),
                         [](const ::testing::TestParamInfo<Session>& info) { return info.param.name; });

// scripts/capture.sh records scripts/demo.sh (check, upgrade, check of family A); tshark
// with the dissector and nothing else names every packet that carries data: the router's
// protocols by the dissector, Telnet by Wireshark's own.
TEST(DemoCapture, EveryPacketOfTheDemoIsNamed)
{
    if (kivtest::TsharkProgram().empty())
        KIV_SKIP_OR_FAIL("tshark is not installed (scripts/deps.sh installs it)");
    if (kivtest::FindProgram("tcpdump", "/usr/sbin:/sbin").empty() || kivtest::IpProgram().empty())
        KIV_SKIP_OR_FAIL("tcpdump or ip is not installed (scripts/deps.sh installs them)");
    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("scripts/capture.sh needs root for its network namespace");
    kivtest::TempDir dir("kiv-demo-capture");
    const std::string capture = dir / "upgrade.pcap";
    const char* build = std::getenv("KIV_TEST_BIN_DIR");
    ASSERT_NE(build, nullptr);
    const kivtest::RunResult run =
        kivtest::RunProgram({"/bin/bash", KIV_CAPTURE_SCRIPT, "--out", capture, "--build", build},
                            {{"KIV_TIME_SCALE", kivtest::ScaleArgument(kivtest::TelnetTimeScale())},
                             {"TMPDIR", dir.Path()}},
                            std::chrono::minutes(5));
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    const Dissection packets = kivtest::Dissect(capture, {"frame.protocols", "tcp.len", "tcp.analysis.retransmission"},
                                                {}, kivtest::Passes::ONE);
    ASSERT_TRUE(kivtest::Clean(packets));
    int named = 0, telnet = 0;
    for (size_t i = 0; i < packets.Packets(); ++i) {
        // TCP without data, and data sent again (Wireshark shows it as a retransmission).
        const std::vector<std::string>& tcpLength = packets.Get(i, "tcp.len");
        if ((!tcpLength.empty() && tcpLength[0] == "0") || !packets.Get(i, "tcp.analysis.retransmission").empty())
            continue;
        const std::string protocols = packets.Get(i, "frame.protocols").at(0);
        const bool ours = protocols.find(":kivupgrade") != std::string::npos;
        telnet += protocols.find(":telnet") != std::string::npos;
        named += ours;
        EXPECT_TRUE(ours || protocols.find(":telnet") != std::string::npos)
            << "packet " << packets.Number(i) << ": " << protocols;
    }
    EXPECT_GT(named, 100);
    EXPECT_GT(telnet, 0);
}

} // namespace
