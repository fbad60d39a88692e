#include "tests/support/CliFixture.h"

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "tests/support/Files.h"
#include "tests/support/SampleSet.h"

namespace kivtest {

namespace {

// The words of KIV_CLI_UNDER_TEST; empty when it is not set.
std::vector<std::string> CliUnderTest()
{
    std::vector<std::string> words;
    const char* value = std::getenv("KIV_CLI_UNDER_TEST");
    std::istringstream in(value ? value : "");
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

} // namespace

std::vector<std::string> CliFixture::CliCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = CliUnderTest();
    if (argv.empty())
        return LinuxCliCommand(args);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> CliFixture::LinuxCliCommand(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {BuildProgram(CLI_PROGRAM)};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

bool CliFixture::WindowsCli()
{
    const std::vector<std::string> words = CliUnderTest();
    const std::string suffix = ".exe";
    return !words.empty() && words.back().size() > suffix.size() &&
           words.back().compare(words.back().size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string CliFixture::CliPath(const std::string& path)
{
    if (!WindowsCli())
        return path;
    // Wine's drive Z: is the root of this side's file system.
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string CliFixture::CliFile(const std::string& dir, const std::string& name)
{
    std::string path = dir + "/" + name;
    if (WindowsCli())
        std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void CliFixture::SetUpTestSuite() { ASSERT_TRUE(SampleSet::Shared().Ok()) << SampleSet::Shared().Error(); }

void CliFixture::TearDown() { m_Sim.ExpectCleanExit(); }

std::string CliFixture::Samples(const std::string& family) { return SampleSet::Shared().Family(family); }

std::string CliFixture::Scale() { return ScaleArgument(TelnetTimeScale()); }

bool CliFixture::StartSim(const std::vector<std::string>& args, const std::string& scale)
{
    SimOptions options;
    options.transcript = m_Dir / "transcript.jsonl";
    options.timeScale = scale.empty() ? TelnetTimeScale() : std::stod(scale);
    const ::testing::AssertionResult started = m_Sim.Start(args, options);
    if (!started) {
        ADD_FAILURE() << started.message();
        return false;
    }
    m_strRouterPort = std::to_string(m_Sim.RouterPort());
    m_strTelnetPort = std::to_string(m_Sim.TelnetPort() != 0 ? m_Sim.TelnetPort() : m_NoService.Port());
    return true;
}

void CliFixture::StopSim() { m_Sim.ExpectCleanExit(); }

std::vector<std::string> CliFixture::CliArgs(const std::string& command, const std::string& images, bool json) const
{
    std::vector<std::string> argv = CliCommand(
        {command, "--target", "127.0.0.1", "--router-port", m_strRouterPort, "--telnet-port", m_strTelnetPort});
    if (!images.empty())
        argv.insert(argv.end(), {"--images", images});
    if (json)
        argv.push_back("--json");
    return argv;
}

Process::Env CliFixture::CliEnv() const
{
    Process::Env env = {{"TMPDIR", m_Dir.Path()},    {"XDG_STATE_HOME", m_Dir / "state"},
                        {"KIV_TIME_SCALE", Scale()}, {"KIV_DISCOVERY_TARGETS", ""},
                        {"KIV_ROUTER_PORT", ""},     {"KIV_TELNET_PORT", ""}};
    if (WindowsCli()) {
        // Wine finds the session's server through TMPDIR: with another one, a program
        // would start a server of its own on the same prefix.
        env.erase("TMPDIR");
        env["KIV_WINE_TEMP"] = CliPath(m_Dir.Path());
    }
    for (const auto& [name, value] : m_ExtraEnv)
        env[name] = value;
    return env;
}

CliRun CliFixture::Finish(Process& cli, std::chrono::seconds limit)
{
    CliRun run;
    run.exitCode = cli.Wait(limit);
    run.out = cli.Out();
    run.err = cli.Err();
    if (WindowsCli()) {
        for (std::string* text : {&run.out, &run.err})
            *text = std::regex_replace(*text, std::regex("\r\n"), "\n");
    }
    run.json = nlohmann::json::parse(run.out, nullptr, false);
    if (run.json.is_discarded())
        run.json = nlohmann::json();
    return run;
}

CliRun CliFixture::RunArgv(const std::vector<std::string>& argv, const Process::Env& env, std::chrono::seconds limit)
{
    Process::Env merged = CliEnv();
    for (const auto& [name, value] : env)
        merged[name] = value;
    Process cli;
    if (!cli.Start(argv, merged)) {
        ADD_FAILURE() << cli.Error();
        return CliRun();
    }
    return Finish(cli, limit);
}

CliRun CliFixture::RunCli(const std::string& command, const std::string& images, std::vector<std::string> extra,
                          std::chrono::seconds limit)
{
    std::vector<std::string> argv = CliArgs(command, images);
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunArgv(argv, {}, limit);
}

std::string CliFixture::Log() const { return ReadRequiredFile(m_Dir / "KivUpgradeLog.txt"); }

std::string CliFixture::Transcript() const { return ReadRequiredFile(m_Dir / "transcript.jsonl"); }

} // namespace kivtest
