#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "images/CSampleImage.h"
#include "tests/app/TestSupport.h"
#include "tests/cli/TestProcess.h"

namespace kivtest {

// One run of kivupgrade-cli.
struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    nlohmann::json json;  // the document, when --json was given and it parsed

    // The row whose type column starts with `type`, or null.
    const nlohmann::json* Row(const std::string& type) const
    {
        if (!json.contains("rows"))
            return nullptr;
        for (const auto& row : json["rows"]) {
            if (row["type"].get<std::string>().rfind(type, 0) == 0)
                return &row;
        }
        return nullptr;
    }
    std::string Cell(const std::string& type, const char* field) const
    {
        const nlohmann::json* row = Row(type);
        return row ? (*row)[field].get<std::string>() : std::string("<no row " + type + ">");
    }
};

// Runs the virtual router and the command line on 127.0.0.1, time-scaled, with the
// download log and the simulator's transcript in the test's own directory.
class CliFixture : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        s_pSamples = std::make_unique<TempDir>();
        std::string error;
        ASSERT_TRUE(SampleImage::WriteSamples(s_pSamples->Path(), 256 * 1024, error)) << error;
    }
    static void TearDownTestSuite() { s_pSamples.reset(); }

protected:
    static std::string Samples(const std::string& family) { return (*s_pSamples) / family; }

    // The test run's time scale, but not below 0.1: a Telnet reply is taken after 500 scaled
    // ms, and a loaded machine (sanitizers, parallel tests) needs some 50 ms for it.
    std::string Scale() const
    {
        const char* s = std::getenv("KIV_TIME_SCALE");
        double scale = s && *s ? std::atof(s) : 0.1;
        return std::to_string(scale > 0.1 ? scale : 0.1);
    }

    // Starts the simulator with `args` on free ports; false (with a failure) if it does
    // not say "ready".
    bool StartSim(std::vector<std::string> args, const std::string& scale = std::string())
    {
        std::vector<std::string> argv = {BuildProgram("sim/kivrouter-sim"), "--address", "127.0.0.1",
            "--router-port", "0", "--telnet-port", "0", "--transcript", m_Dir / "transcript.jsonl",
            "--time-scale", scale.empty() ? Scale() : scale};
        argv.insert(argv.end(), args.begin(), args.end());
        m_pSim = std::make_unique<TestProcess>();
        if (!m_pSim->Start(argv)) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return false;
        }
        bool ready = m_pSim->ReadUntil(
            [](const std::string& out, const std::string&) { return out.find('\n') != std::string::npos; },
            std::chrono::seconds(20));
        std::smatch m;
        std::string line = m_pSim->Out();
        if (!ready || !std::regex_search(line, m, std::regex("ready.*router-port=(\\d+).*telnet-port=(\\d+)"))) {
            ADD_FAILURE() << "simulator not ready: " << line << m_pSim->Err();
            return false;
        }
        m_strRouterPort = m[1];
        m_strTelnetPort = m[2];
        if (m_strTelnetPort == "0")  // no Telnet service: a port where nothing listens
            m_strTelnetPort = std::to_string(FreeLoopbackPort());
        return true;
    }

    void StopSim()
    {
        if (m_pSim) {
            EXPECT_EQ(m_pSim->Stop(), 0) << m_pSim->Err();
        }
        m_pSim.reset();
    }

    void TearDown() override
    {
        if (m_pSim)
            m_pSim->Stop();
    }

    std::vector<std::string> CliArgs(const std::string& command, const std::string& images, bool json = true) const
    {
        std::vector<std::string> argv = {BuildProgram("cli/kivupgrade-cli"), command, "--target", "127.0.0.1",
            "--router-port", m_strRouterPort, "--telnet-port", m_strTelnetPort};
        if (!images.empty()) {
            argv.push_back("--images");
            argv.push_back(images);
        }
        if (json)
            argv.push_back("--json");
        return argv;
    }

    std::map<std::string, std::string> CliEnv() const
    {
        return {{"TMPDIR", m_Dir.Path()}, {"KIV_TIME_SCALE", Scale()}, {"KIV_DISCOVERY_TARGETS", ""},
            {"KIV_ROUTER_PORT", ""}, {"KIV_TELNET_PORT", ""}};
    }

    CliRun Finish(TestProcess& cli, std::chrono::seconds limit)
    {
        CliRun run;
        run.exitCode = cli.Wait(limit);
        run.out = cli.Out();
        run.err = cli.Err();
        try {
            run.json = nlohmann::json::parse(run.out);
        } catch (const std::exception&) {
        }
        return run;
    }

    CliRun RunCli(const std::string& command, const std::string& images, std::vector<std::string> extra = {},
        std::chrono::seconds limit = std::chrono::seconds(300))
    {
        std::vector<std::string> argv = CliArgs(command, images);
        argv.insert(argv.end(), extra.begin(), extra.end());
        TestProcess cli;
        if (!cli.Start(argv, CliEnv())) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return CliRun();
        }
        return Finish(cli, limit);
    }

    std::string ReadFile(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Log() const { return ReadFile(m_Dir / "KivUpgradeLog.txt"); }
    std::string Transcript() const { return ReadFile(m_Dir / "transcript.jsonl"); }
    static int Count(const std::string& text, const std::string& what)
    {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
            ++n;
        return n;
    }

    TempDir m_Dir;
    std::unique_ptr<TestProcess> m_pSim;
    std::string m_strRouterPort;
    std::string m_strTelnetPort;
    static inline std::unique_ptr<TempDir> s_pSamples;
};

} // namespace kivtest
