// What the command line does with input it must not trust: image files that are found but
// not usable are named with the check they failed, and version texts from the router or an
// image reach neither the terminal nor the log with a control character in them.
#include <filesystem>
#include <fstream>

#include "images/CBinFile.h"
#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"
#include "tests/support/LogText.h"
#include "tests/support/Process.h"

using kivtest::CliFixture;
using kivtest::CliRun;

namespace {

class CliInputs : public CliFixture {
protected:
    // A copy of the family A samples that the test may change.
    std::string CopySamples()
    {
        const std::string dir = m_Dir / "images";
        std::filesystem::copy(Samples("a"), dir, std::filesystem::copy_options::recursive);
        return dir;
    }

    // Flips one data byte of the image at `path`: part `part`, block `block` (4096-byte blocks).
    static void FlipDataByte(const std::string& path, size_t part, size_t block)
    {
        CBinFile image;
        image.SetPath(path);
        ASSERT_TRUE(image.Open(IMG_NONE)) << image.GetFailure();
        const size_t offset = image.GetSpan(part).m_nOffset + block * 4096 + 17;
        image.Close();
        ASSERT_TRUE(kivtest::FlipByte(path, offset));
    }

    // Writes the image `path` with kivimage create: `type`, `version` and `parts` parts of
    // 5000 bytes each.
    void CreateImage(const std::string& path, const std::string& type, const std::string& version, int parts = 1)
    {
        const std::string data = m_Dir / "part.dat";
        ASSERT_TRUE(kivtest::WriteFile(data, std::string(5000, 'p')));
        std::vector<std::string> args = {
            kivtest::BuildProgram(kivtest::IMAGE_PROGRAM), "create", path, "--type", type, "-V", version};
        for (int i = 0; i < parts; ++i) {
            args.push_back("--part");
            args.push_back(data);
        }
        const kivtest::RunResult run = kivtest::RunProgram(args);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }

    // Lines of the download log that say exactly `message`.
    int LogLines(const std::string& message) const { return kivtest::CountLogMessages(Log(), message); }

    // A control character (C0 but the allowed line ends, DEL, C1 as UTF-8) in `text`, as
    // "offset: byte", or "" when there is none. `crlf`: line ends are CR LF, else LF.
    static std::string FindControl(const std::string& text, bool crlf)
    {
        for (size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            const bool lineEnd = c == '\n' && (!crlf || (i > 0 && text[i - 1] == '\r'));
            const bool cr = crlf && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
            const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (((c < 0x20 || c == 0x7F) && !lineEnd && !cr) || c1)
                return std::to_string(i) + ": " + std::to_string(c) + " in ..." + text.substr(i > 20 ? i - 20 : 0, 40);
        }
        return std::string();
    }
};

// A firmware image with one flipped data byte is not used: check and upgrade both say which
// file, and which block failed, on standard error, in the JSON and in the log; the rows keep
// their texts.
TEST_F(CliInputs, DamagedImageIsNamedWithItsBlock)
{
    const std::string images = CopySamples();
    const std::string firmware = images + "/firmware.bin";
    ASSERT_NO_FATAL_FAILURE(FlipDataByte(firmware, 2, 3));
    const std::string reason = "part 2 block 3: checksum mismatch";
    ASSERT_TRUE(StartSim({}));

    for (const char* command : {"check", "upgrade"}) {
        SCOPED_TRACE(command);
        CliRun run = RunCli(command, images);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        ASSERT_EQ(run.json["rejectedImages"].size(), 1u) << run.out;
        EXPECT_EQ(run.json["rejectedImages"][0]["file"], firmware);
        EXPECT_EQ(run.json["rejectedImages"][0]["reason"], reason);
        // One warning after the check names the file and the block.
        ASSERT_EQ(run.json["warnings"].size(), 1u) << run.out;
        EXPECT_EQ(run.json["warnings"][0], "This image is not used:\n" + firmware + ": " + reason);
        EXPECT_NE(run.err.find("Warning: This image is not used:\n" + firmware + ": " + reason), std::string::npos)
            << run.err;
        EXPECT_EQ(run.Cell("Firmware", "status"), "Not found");
        EXPECT_EQ(run.json["upgradeRan"], std::string(command) == "upgrade");
    }
    // One log line per run that looked for images; the upgrade went on without the firmware.
    EXPECT_EQ(LogLines("Image not used: " + firmware + ": " + reason), 2) << Log();
    EXPECT_EQ(LogLines("Downloading the firmware of the wireless module"), 0);
    EXPECT_EQ(LogLines("Downloading the dashboard of the wireless module"), 1);
}

// A router image of two parts (made by kivimage create) would be announced with the length
// of both and sent with part 0 alone: it is not used, and said so.
TEST_F(CliInputs, RouterImageOfTwoPartsIsNotUsed)
{
    const std::string images = CopySamples();
    const std::string boot = images + "/boot.bin";
    ASSERT_NO_FATAL_FAILURE(CreateImage(boot, "boot", "1.0.6.9", 2));
    ASSERT_TRUE(StartSim({}));

    CliRun run = RunCli("upgrade", images);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.json["rejectedImages"].size(), 1u) << run.out;
    EXPECT_EQ(run.json["rejectedImages"][0]["file"], boot);
    EXPECT_EQ(run.json["rejectedImages"][0]["reason"], "router images must have exactly one part");
    EXPECT_NE(run.err.find(boot + ": router images must have exactly one part"), std::string::npos) << run.err;
    EXPECT_EQ(run.Cell("BOOT", "status"), "Not found");
    EXPECT_EQ(LogLines("Image not used: " + boot + ": router images must have exactly one part"), 1) << Log();
    StopSim();
    // APP and Customization were sent; BOOT never was.
    EXPECT_EQ(kivtest::CountOf(Transcript(), "\"event\":\"RUT begin\""), 2);
}

// Escape sequences in version texts (the router's Telnet answers, its wireless module's
// DIAG answers, an image's header) could retitle or clear the terminal, or overwrite a line
// with "Result: success": they are replaced where they are received and again where the
// command line prints.
TEST_F(CliInputs, VersionTextsCarryNoControlCharacters)
{
    const std::string images = CopySamples();
    ASSERT_NO_FATAL_FAILURE(CreateImage(images + "/app.bin", "app",
                                        "2.1.7.1\x1b[5m\x9b"
                                        "2J"));
    ASSERT_TRUE(StartSim({"--boot-version", "1.0.5.0\x1b]0;owned\x07", "--app-version", "2.1.5.0\x1b[2J\x1b[H",
                          "--firmware-version", "11.608.10.01\x1b[FResult: success", "--dashboard-version",
                          "16.200.10.01.00\xc2\x9b"
                          "2K\x7f"}));

    CliRun table = RunArgv(CliArgs("check", images, false));
    CliRun json = RunCli("check", images);
    const std::string r = "\xEF\xBF\xBD";
    for (const CliRun* run : {&table, &json}) {
        EXPECT_EQ(run->exitCode, 0) << run->err;
        EXPECT_EQ(FindControl(run->out, false), "") << run->out;
        EXPECT_EQ(FindControl(run->err, false), "") << run->err;
    }
    // The texts are still there, their control characters replaced.
    EXPECT_NE(table.out.find("1.0.5.0" + r + "]0;owned" + r), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("11.608.10.01" + r + "[FResult: success"), std::string::npos);
    EXPECT_EQ(json.Cell("APP", "currentVersion"), "2.1.5.0" + r + "[2J" + r + "[H");
    EXPECT_EQ(json.Cell("APP", "upgradeVersion"), "2.1.7.1" + r + "[5m" + r + "2J");
    EXPECT_EQ(json.Cell("Dashboard", "currentVersion"), "16.200.10.01.00" + r + "2K" + r);

    const std::string log = Log();
    EXPECT_NE(log.find("Firmware Version: 11.608.10.01" + r + "[FResult: success"), std::string::npos) << log;
    EXPECT_EQ(FindControl(log, true), "");
}

} // namespace
