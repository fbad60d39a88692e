// Sessions of kivupgrade-cli with the virtual router, recorded by tcpdump on the loopback of
// a network namespace of the test's own (the router's own ports; an Ethernet MTU, so frames
// span segments) and read back with the dissector. What it shows is held against the
// simulator's transcript and against the image files themselves.

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
using Block = std::pair<uint32_t, uint32_t>; // address, length

// A datagram to the discard port: once it is in the file, every packet before it is.
const char* const END_MARKER = "KIVCAPTUREEND";

uint32_t Le32(const std::string& bytes, size_t at)
{
    return uint32_t(uint8_t(bytes.at(at))) | uint32_t(uint8_t(bytes.at(at + 1))) << 8 |
           uint32_t(uint8_t(bytes.at(at + 2))) << 16 | uint32_t(uint8_t(bytes.at(at + 3))) << 24;
}

// The parts of an image file as (target address, data length), read from its bytes: a
// 92-byte file header, then per part a header (its size at +4, the address at +20, the
// length at +24), the data, and padding to a multiple of 4.
std::vector<Block> PartsOf(const std::string& path)
{
    const std::string bytes = kivtest::ReadFile(path);
    std::vector<Block> parts;
    for (size_t at = 92; at + 98 <= bytes.size();) {
        parts.emplace_back(Le32(bytes, at + 20), Le32(bytes, at + 24));
        const size_t used = size_t(Le32(bytes, at + 4)) + parts.back().second;
        at += used + (4 - used % 4) % 4;
    }
    return parts;
}

struct Session {
    const char* name;
    const char* family;                      // samples "a" or "b"
    std::vector<std::string> routerImages;   // in the order they are sent
    std::vector<std::string> wirelessImages; // firmware, then dashboard
    std::vector<std::string> simArgs;
    const char* command;
    int port;         // the router's UDP and TCP port
    int refusedBlock; // the block write the simulator refuses (nak-block), from 1
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
     0},
    {"FamilyBUpgrade",
     "b",
     {"common_html.bin", "special_html.bin", "app.bin", "config.bin"},
     {"firmware.bin", "dashboard.bin"},
     {"--family", "B"},
     "upgrade",
     1280,
     0},
    {"RefusedBlock", "a", {}, {"firmware.bin"}, {"--fault", "nak-block=3"}, "upgrade", 1280, 3},
    // A check whose board version answer has a wrong FCS, on another port: read with the
    // dissector's port preference.
    {"BadFcs", "a", {"boot.bin"}, {"firmware.bin"}, {"--fault", "corrupt-fcs=2"}, "check", 5080, 0},
};

bool Missing(const std::string& tool) { return kivtest::FindProgram(tool, "/usr/sbin:/sbin").empty(); }

class WireCapture : public kivtest::CliFixture, public ::testing::WithParamInterface<Session> {
protected:
    void SetUp() override
    {
        if (Missing("tshark") || Missing("tcpdump"))
            KIV_SKIP_OR_FAIL("tshark or tcpdump is not installed (scripts/deps.sh installs them)");
        KIV_REQUIRE_PROGRAM(kivtest::BuildProgram(kivtest::CLI_PROGRAM));
        KIV_REQUIRE_PROGRAM(kivtest::SimProcess::Program());
        std::string why;
        if (!m_Lan.Make({{"-n", m_Lan.Ns("wire"), "link", "set", "lo", "mtu", "1500", "gso_max_size", "1500", "up"}},
                        why))
            KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + why + ")");
    }

    // Records the session into Capture().
    void Record(const Session& session)
    {
        const std::string port = std::to_string(session.port), images = m_Dir / "images";
        std::filesystem::create_directories(images);
        for (const auto* list : {&session.routerImages, &session.wirelessImages}) {
            for (const std::string& name : *list)
                ASSERT_TRUE(std::filesystem::copy_file(Samples(session.family) + "/" + name, images + "/" + name));
        }
        kivtest::Process tcpdump;
        ASSERT_TRUE(tcpdump.Start(
            m_Lan.In("wire", {kivtest::FindProgram("tcpdump", "/usr/sbin:/sbin"), "-i", "lo", "-U", "-B", "16384", "-Z",
                              "root", "-w", Capture(),
                              "udp port " + port + " or tcp port " + port + " or tcp port 23 or udp port 9"})));
        ASSERT_TRUE(
            tcpdump.ReadUntil([](const std::string&,
                                 const std::string& err) { return err.find("listening on") != std::string::npos; },
                              std::chrono::milliseconds(kivtest::GUARD_MS)))
            << tcpdump.Err();

        kivtest::SimOptions options;
        options.prefix = m_Lan.In("wire", {});
        options.routerPort = port;
        options.telnetPort = "23";
        options.timeScale = kivtest::TelnetTimeScale();
        options.transcript = m_Dir / "transcript.jsonl";
        ASSERT_TRUE(m_Sim.Start(session.simArgs, options));
        kivtest::Process cli;
        ASSERT_TRUE(cli.Start(m_Lan.In("wire", {kivtest::BuildProgram(kivtest::CLI_PROGRAM), session.command,
                                                "--target", "127.0.0.1", "--router-port", port, "--telnet-port", "23",
                                                "--images", images, "--json"}),
                              CliEnv()));
        const kivtest::CliRun run = Finish(cli, std::chrono::seconds(300));
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        StopSim();

        ASSERT_EQ(kivtest::RunProgram(
                      m_Lan.In("wire",
                               {"/bin/bash", "-c", std::string("printf ") + END_MARKER + " >/dev/udp/127.0.0.1/9"}))
                      .status,
                  0);
        EXPECT_TRUE(kivtest::WaitFor([&] {
            std::ifstream in(Capture(), std::ios::binary | std::ios::ate);
            in.seekg(std::max<std::streamoff>(0, std::streamoff(in.tellg()) - 4096));
            return std::string(std::istreambuf_iterator<char>(in), {}).find(END_MARKER) != std::string::npos;
        }));
        EXPECT_EQ(tcpdump.Stop(SIGINT), 0) << tcpdump.Err();
        EXPECT_NE(tcpdump.Err().find("\n0 packets dropped by kernel"), std::string::npos) << tcpdump.Err();
    }

    std::string Capture() const { return m_Dir / "capture.pcap"; }

    // The requests of the simulator's transcript over UDP or TCP, in order.
    std::vector<std::string> TranscriptRequests(const std::string& proto) const
    {
        std::vector<std::string> names;
        for (const nlohmann::json& record : kivtest::ParseJsonLines(Transcript())) {
            if (record.value("dir", "") == "in" && record.value("proto", "") == proto &&
                (record.value("kind", "") == "frame" || record.value("kind", "") == "record"))
                names.push_back(record.value(proto == "tcp" ? "request" : "name", "?"));
        }
        return names;
    }

    kivtest::TestLan m_Lan{{"wire"}};
};

// The requests the dissector names over UDP or TCP, in capture order.
std::vector<std::string> CaptureRequests(const Dissection& capture, bool tcp)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < capture.packets.size(); ++i) {
        if (capture.Get(i, "tcp.stream").empty() != tcp)
            names.insert(names.end(), capture.Get(i, "kivupgrade.request").begin(),
                         capture.Get(i, "kivupgrade.request").end());
    }
    return names;
}

// Every answer names the packet of an earlier request, and every answer is named by exactly
// one request.
void ExpectLinked(const Dissection& capture)
{
    std::map<int, size_t> index;
    std::vector<int> answers, answerIns;
    for (size_t i = 0; i < capture.packets.size(); ++i) {
        index[capture.Number(i)] = i;
        const std::vector<std::string>& requestIns = capture.Get(i, "kivupgrade.request_in");
        EXPECT_EQ(capture.Get(i, "kivupgrade.answer").size(), requestIns.size()) << "packet " << capture.Number(i);
        for (const std::string& requestIn : requestIns) {
            ASSERT_EQ(index.count(std::stoi(requestIn)), 1u) << "packet " << capture.Number(i);
            EXPECT_FALSE(capture.Get(index[std::stoi(requestIn)], "kivupgrade.request").empty());
        }
        answers.insert(answers.end(), requestIns.size(), capture.Number(i));
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
    const Dissection capture =
        kivtest::Dissect(Capture(),
                         {"tcp.stream", "kivupgrade.request", "kivupgrade.answer", "kivupgrade.request_in",
                          "kivupgrade.answer_in", "kivupgrade.block.address", "kivupgrade.block.length",
                          "kivupgrade.image.length", "kivupgrade.fcs.status", "kivupgrade.fcs.bad",
                          "kivupgrade.nak.reason"},
                         {"-o", "kivupgrade.port:" + std::to_string(session.port)});
    ASSERT_TRUE(kivtest::Clean(capture));

    // Every request, in the simulator's words and order; answers linked to them.
    EXPECT_EQ(CaptureRequests(capture, false), TranscriptRequests("udp"));
    EXPECT_EQ(CaptureRequests(capture, true), TranscriptRequests("tcp"));
    ExpectLinked(capture);

    // The router image begin packets announce part 0's length; the block writes are the
    // wireless images' parts in blocks of 4096 bytes. A check writes nothing.
    const bool upgrade = std::string(session.command) == "upgrade";
    std::vector<std::string> lengths;
    std::vector<Block> expected, written;
    for (const std::string& name : upgrade ? session.routerImages : std::vector<std::string>())
        lengths.push_back(std::to_string(PartsOf(Samples(session.family) + "/" + name).at(0).second));
    for (const std::string& name : upgrade ? session.wirelessImages : std::vector<std::string>()) {
        for (const auto& [address, length] : PartsOf(Samples(session.family) + "/" + name)) {
            for (uint32_t done = 0; done < length; done += 4096)
                expected.emplace_back(address + done, std::min(4096u, length - done));
        }
    }
    EXPECT_EQ(capture.All("kivupgrade.image.length"), lengths);
    const std::vector<std::string> addresses = capture.All("kivupgrade.block.address");
    const std::vector<std::string> blockLengths = capture.All("kivupgrade.block.length");
    ASSERT_EQ(addresses.size(), blockLengths.size());
    for (size_t i = 0; i < addresses.size(); ++i)
        written.emplace_back(std::stoul(addresses[i], nullptr, 16), std::stoul(blockLengths[i]));
    if (session.refusedBlock > 0) {
        // The refused block is written again at once; the refusal, with the simulator's
        // reason 6, answers the first write of it.
        const size_t refused = size_t(session.refusedBlock - 1);
        ASSERT_LT(refused + 1, written.size());
        EXPECT_EQ(written[refused], written[refused + 1]);
        written.erase(written.begin() + long(refused));
        const std::vector<std::string> reasons = capture.All("kivupgrade.nak.reason");
        ASSERT_EQ(reasons.size(), 1u);
        EXPECT_EQ(std::stoul(reasons[0], nullptr, 0), 6u);
        for (size_t i = 0; i < capture.packets.size(); ++i) {
            if (capture.Get(i, "kivupgrade.nak.reason").empty())
                continue;
            const std::string request = capture.Get(i, "kivupgrade.request_in").at(0);
            for (size_t j = 0; j < i; ++j) {
                if (capture.Get(j, "frame.number").at(0) == request) {
                    EXPECT_EQ(std::stoul(capture.Get(j, "kivupgrade.block.address").at(0), nullptr, 16),
                              expected.at(refused).first);
                }
            }
        }
    }
    EXPECT_EQ(written, expected);

    // The frame the simulator corrupted is flagged, and no other.
    std::string corrupted;
    for (const nlohmann::json& record : kivtest::ParseJsonLines(Transcript())) {
        if (record.value("fault", "") == "corrupt-fcs")
            corrupted = record.value("answer", "?");
    }
    std::vector<std::string> flagged;
    for (size_t i = 0; i < capture.packets.size(); ++i) {
        const std::vector<std::string>& fcs = capture.Get(i, "kivupgrade.fcs.status");
        if (std::find(fcs.begin(), fcs.end(), "0") != fcs.end()) {
            EXPECT_EQ(capture.Get(i, "kivupgrade.fcs.bad").size(), 1u);
            flagged.push_back(capture.Get(i, "kivupgrade.answer").at(0));
        }
    }
    const bool corrupts = std::any_of(session.simArgs.begin(), session.simArgs.end(),
                                      [](const std::string& arg) { return arg.rfind("corrupt-fcs", 0) == 0; });
    EXPECT_EQ(corrupted.empty(), !corrupts);
    EXPECT_EQ(flagged, corrupts ? std::vector<std::string>{corrupted} : std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Sessions, WireCapture, ::testing::ValuesIn(SESSIONS),
                         [](const ::testing::TestParamInfo<Session>& info) { return info.param.name; });

// scripts/capture.sh records scripts/demo.sh; tshark with the dissector and nothing else
// names every packet that carries data: the dissector the router's protocols, Wireshark
// Telnet. (TCP shows data sent again as a retransmission.)
TEST(DemoCapture, EveryPacketOfTheDemoIsNamed)
{
    if (Missing("tshark") || Missing("tcpdump") || Missing("ip"))
        KIV_SKIP_OR_FAIL("tshark, tcpdump or ip is not installed (scripts/deps.sh installs them)");
    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("scripts/capture.sh needs root for its network namespace");
    kivtest::TempDir dir("kiv-demo-capture");
    const kivtest::RunResult run = kivtest::RunProgram(
        {"/bin/bash", KIV_CAPTURE_SCRIPT, "--out", dir / "upgrade.pcap", "--build", kivtest::BuildProgram("")},
        {{"KIV_TIME_SCALE", kivtest::ScaleArgument(kivtest::TelnetTimeScale())}, {"TMPDIR", dir.Path()}},
        std::chrono::minutes(5));
    ASSERT_EQ(run.status, 0) << run.err;

    const Dissection packets = kivtest::Dissect(dir / "upgrade.pcap",
                                                {"frame.protocols", "tcp.len", "tcp.analysis.retransmission"}, {},
                                                kivtest::Passes::ONE);
    ASSERT_TRUE(kivtest::Clean(packets));
    std::map<std::string, int> named;
    for (size_t i = 0; i < packets.packets.size(); ++i) {
        if (packets.Get(i, "tcp.len") == std::vector<std::string>{"0"} ||
            !packets.Get(i, "tcp.analysis.retransmission").empty())
            continue;
        const std::string protocols = packets.Get(i, "frame.protocols").at(0);
        const std::string last = protocols.substr(protocols.rfind(':') + 1);
        EXPECT_TRUE(last == "kivupgrade" || last == "telnet") << "packet " << packets.Number(i) << ": " << protocols;
        ++named[last];
    }
    EXPECT_GT(named["kivupgrade"], 100);
    EXPECT_GT(named["telnet"], 0);
}

} // namespace
