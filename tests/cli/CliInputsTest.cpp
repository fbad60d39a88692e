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

// An image whose headers name a component but which fails a later check (a flipped data
// byte, a router image of more than one part) fails the check in that component's row, in
// the error colour and with the first check it failed; nothing is written: check and upgrade
// both end with exit status 1, the JSON row and the reason say why, the log names the file.
TEST_F(CliInputs, DamagedImageFailsTheCheckInItsRow)
{
    const std::string images = CopySamples();
    const struct {
        const char* file;
        const char* row;
        const char* reason;
    } CASES[] = {
        {"firmware.bin", "Firmware of wireless module", "part 2 block 3: checksum mismatch"},
        {"boot.bin", "BOOT of router module", "router images must have exactly one part"},
    };
    ASSERT_NO_FATAL_FAILURE(FlipDataByte(images + "/firmware.bin", 2, 3));
    ASSERT_NO_FATAL_FAILURE(CreateImage(images + "/boot.bin", "boot", "1.0.6.9", 2));
    ASSERT_TRUE(StartSim({}));

    for (const char* command : {"check", "upgrade"}) {
        SCOPED_TRACE(command);
        CliRun run = RunCli(command, images);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.json["checkPassed"], false);
        EXPECT_EQ(run.json["upgradeRan"], false);
        EXPECT_EQ(run.json["reason"],
                  "Image damaged: BOOT of router module (router images must have exactly one "
                  "part); Firmware of wireless module (part 2 block 3: checksum mismatch).");
        EXPECT_TRUE(run.json["warnings"].empty()) << run.out; // the rows say it, no box
        ASSERT_EQ(run.json["rejectedImages"].size(), 2u) << run.out;
        for (size_t i = 0; i < 2; ++i) {
            const auto& c = CASES[1 - i]; // in file name order
            EXPECT_EQ(run.json["rejectedImages"][i]["file"], CliFile(images, c.file));
            EXPECT_EQ(run.json["rejectedImages"][i]["reason"], c.reason);
            EXPECT_EQ(run.json["rejectedImages"][i]["damaged"], true);
        }
        for (const auto& c : CASES) {
            EXPECT_EQ(run.Cell(c.row, "status"), std::string("Image damaged: ") + c.reason);
            EXPECT_EQ(run.Cell(c.row, "colourName"), "red");
            EXPECT_EQ(run.Cell(c.row, "imageDamaged"), c.reason);
        }
        ASSERT_NE(run.Row("APP"), nullptr);
        EXPECT_TRUE((*run.Row("APP"))["imageDamaged"].is_null()) << "null for a good image";
    }
    for (const auto& c : CASES)
        EXPECT_EQ(LogLines("Image damaged: " + CliFile(images, c.file) + ": " + c.reason), 2) << Log();
    StopSim();
    EXPECT_EQ(kivtest::CountOf(Transcript(), "\"event\":\"RUT begin\""), 0) << "nothing was written";
}

// A *.bin file that is not an image of ours at all (no magic of the container format) is
// named once, on standard error and in the log, and does not fail the check: the images
// beside it are all written.
TEST_F(CliInputs, FileThatIsNoImageIsNamedOnceAndPassedOver)
{
    const std::string images = CopySamples();
    const std::string junk = CliFile(images, "valgrind.bin");
    ASSERT_TRUE(kivtest::WriteFile(images + "/valgrind.bin",
                                   "\x7f"
                                   "ELF" +
                                       std::string(400, '\0')));
    ASSERT_TRUE(StartSim({}));

    CliRun run = RunCli("upgrade", images);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(kivtest::CountOf(run.err, junk), 1) << run.err;
    EXPECT_NE(run.err.find("This file is not an upgrade image and is not used: " + junk), std::string::npos);
    EXPECT_TRUE(run.json["warnings"].empty()) << run.out;
    ASSERT_EQ(run.json["rejectedImages"].size(), 1u);
    EXPECT_EQ(run.json["rejectedImages"][0]["damaged"], false);
    EXPECT_EQ(kivtest::CountOf(Log(), junk), 1) << Log();
    for (const char* row : {"BOOT", "APP", "Customization", "Firmware", "Dashboard"})
        EXPECT_EQ(run.Cell(row, "status").rfind("Download successfully (", 0), 0u) << row;
}

// Installed as the package installs it (the program in PREFIX/bin, the images in
// PREFIX/share/kivupgrade/images), the program takes the packaged images and never looks at
// the files beside it: neither a usable image there nor one that is not an image at all.
TEST_F(CliInputs, InstalledProgramTakesThePackagedImagesOnly)
{
    namespace fs = std::filesystem;
    const std::string prefix = m_Dir / "usr";
    fs::create_directories(prefix + "/bin");
    fs::create_directories(prefix + "/share/kivupgrade");
    fs::copy(Samples("a"), prefix + "/share/kivupgrade/images", fs::copy_options::recursive);
    const std::string program = prefix + "/bin/kivupgrade-cli";
    fs::copy_file(kivtest::BuildProgram(kivtest::CLI_PROGRAM), program);
    fs::copy_file(Samples("b") + "/app.bin", prefix + "/bin/app.bin");
    ASSERT_TRUE(kivtest::WriteFile(prefix + "/bin/valgrind.bin", std::string(400, 'v')));
    ASSERT_TRUE(StartSim({}));

    std::vector<std::string> argv = CliArgs("check", "");
    argv.front() = program;
    kivtest::Process cli;
    ASSERT_TRUE(cli.Start(argv, CliEnv())) << cli.Error();
    CliRun run = Finish(cli, std::chrono::seconds(120));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.json["images"]["searched"], nlohmann::json::array({prefix + "/share/kivupgrade/images/"}));
    EXPECT_EQ(run.Cell("APP", "upgradeVersion"), "2.1.7.1") << "family A's, from the package";
    EXPECT_EQ(run.err.find("/bin/"), std::string::npos) << run.err;
    EXPECT_TRUE(run.json["rejectedImages"].empty());
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
