// kivupgrade-cli: finds the router, checks every component's version and, for "upgrade",
// writes every image the check accepted; the same job as the desktop window's "&Check"
// and "&Upgrade", driven by the same controller.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>

#include <CLI/CLI.hpp>

#include "app/RouterOverrides.h"
#include "app/SocketStartup.h"
#include "app/TimeScaleRule.h"
#include "app/UpgradeHistory.h"
#include "cli/CDiscoverCommand.h"
#include "cli/CHistoryCommand.h"
#include "cli/CUpgradeCommand.h"
#include "cli/StopSignals.h"
#include "net/CWsaEvent.h"
#include "net/Socket.h"
#include "platform/Clock.h"
#include "platform/CommandLine.h"
#include "platform/FileLock.h"
#include "platform/TextCodec.h"
#include "platform/UserFiles.h"
#include "platform/Utf8Path.h"
#include "res/ProductVersion.h"

namespace {

constexpr int EXIT_USAGE = 2;

#ifdef _WIN32
// A network adapter goes by its friendly name ("Ethernet 2") or by its own name.
constexpr const char* INTERFACE_EXAMPLE = "Ethernet";
constexpr const char* INTERFACE_HELP =
    "Network adapter to use, by its friendly name (e.g. \"Ethernet 2\") or its adapter name: every socket is tied "
    "to it, so the router is found and reached through it even when another adapter is on the same subnet; "
    "discovery then goes to its broadcast address, then 255.255.255.255 (or KIV_INTERFACE)";
constexpr const char* HISTORY_HELP =
    "Print the upgrade history of this user (%LOCALAPPDATA%\\kivupgrade\\history.jsonl): "
    "one entry per upgrade run";
#else
constexpr const char* INTERFACE_EXAMPLE = "eth1";
constexpr const char* INTERFACE_HELP =
    "Network interface to use (e.g. eth1): every socket is tied to it, so the router is found and reached through it "
    "even when another interface is on the same subnet; discovery then goes to its broadcast address, then "
    "255.255.255.255 (or KIV_INTERFACE). Needs Linux 5.7 or later; older kernels allow it only as root or with "
    "CAP_NET_RAW, and the command then stops with exit status 2 saying so";
constexpr const char* HISTORY_HELP =
    "Print the upgrade history of this user ($XDG_STATE_HOME/kivupgrade/history.jsonl, by "
    "default ~/.local/state/kivupgrade/history.jsonl): one entry per upgrade run";
#endif

struct Options {
    std::string command;
    std::string imagesDir;
    std::vector<std::string> targets;
    std::string interfaceName;
    uint16_t routerPort = 0;
    uint16_t telnetPort = 0;
    double timeScale = 0;
    bool json = false;
};

// One check or upgrade at a time for each user: two copies driving one router at once would
// write its images twice, and a check's requests could fall into the middle of the other
// copy's download. The lock is a file in the user's temporary directory, held for the run
// (the system releases it however the run ends). False, with `path` set, when another copy
// holds it; a lock that cannot be made for another reason does not stop the run.
bool TakeRunLock(CUniqueFd& lock, std::string& path)
{
    const std::string dir = GetTempDirectory();
    if (dir.empty())
        return true;
    path = dir + "kivupgrade-cli.lock";
    lock = OpenUserFile(path, O_RDWR, true); // never inherited by a child
    return !lock.Valid() || TryLockWholeFile(lock.Get()) || errno != EWOULDBLOCK;
}

// Starts the socket library (Winsock 2.2 on Windows); false, having said why, when it cannot.
bool StartSockets(const CSocketLibrary& sockets)
{
    const std::string problem = SocketLibraryProblem(sockets);
    if (problem.empty())
        return true;
    if (sockets.Error() != 0)
        std::fprintf(stderr, "kivupgrade-cli: the network cannot be used: %s\n", problem.c_str());
    else
        std::fprintf(stderr, "kivupgrade-cli: %s", problem.c_str()); // message 138 ends its own line
    return false;
}

// CLI::ExistingDirectory for a UTF-8 path: the library's own would take the ANSI code page on
// Windows and refuse any folder with a name outside it.
CLI::Validator ExistingDirectory()
{
    return CLI::Validator(
        [](const std::string& text) {
            std::error_code ec;
            const std::filesystem::file_status status = std::filesystem::status(PathFromUtf8(text), ec);
            if (!std::filesystem::exists(status))
                return "Directory does not exist: " + text;
            if (!std::filesystem::is_directory(status))
                return "Directory is actually a file: " + text;
            return std::string();
        },
        "DIR");
}

// Parses the command line; returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options& options)
{
    CLI::App app{
        "Checks the router's component versions and upgrades them with the images "
        "carried by the program (else *.bin files beside it, then in the installation's "
        "share/kivupgrade/images; or in --images DIR).",
        "kivupgrade-cli"};
    app.set_version_flag("--version", std::string("kivupgrade-cli ") + KivProductVersion());
    app.footer(std::string("Router not found? Run \"kivupgrade-cli discover\" first. When the router is on a second "
                           "network port (e.g. a USB Ethernet adapter beside the Wi-Fi), name that port: "
                           "\"kivupgrade-cli discover --interface ") +
               INTERFACE_EXAMPLE + "\", then \"kivupgrade-cli upgrade --interface " + INTERFACE_EXAMPLE + "\".");
    app.add_option("--images", options.imagesDir, "Directory holding the *.bin images (the only one searched)")
        ->check(ExistingDirectory());
    app.add_option("--target", options.targets,
                   "Discovery target address, three tries each, in order (repeatable; default "
                   "192.168.1.255 then 255.255.255.255, or KIV_DISCOVERY_TARGETS)")
        ->check([](const std::string& text) {
            std::array<uint8_t, 4> address{};
            return ParseIpv4(text, address) ? std::string() : "not a dotted IPv4 address: " + text;
        });
    app.add_option("--interface", options.interfaceName, INTERFACE_HELP);
    app.add_option("--router-port", options.routerPort,
                   "Router UDP and TCP port (default " + std::to_string(ROUTER_PORT) + ", or KIV_ROUTER_PORT)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--telnet-port", options.telnetPort,
                   "Router Telnet port (default " + std::to_string(TELNET_PORT) + ", or KIV_TELNET_PORT)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--time-scale", options.timeScale,
                   "Scale every pause and time-out by this factor, 0.05 runs them 20 times faster (default 1, or "
                   "KIV_TIME_SCALE, which drives a router off loopback only with KIV_TIME_SCALE_ANY_ROUTER=1)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--json", options.json, "Print one JSON document on standard output");
    app.add_subcommand("check", "Find the router and compare every component's version")->fallthrough();
    app.add_subcommand("upgrade", "Check, then write every accepted image")->fallthrough();
    app.add_subcommand(
           "discover",
           "List every router that answers the discovery (IP, MAC, text) and the interfaces looked through; "
           "exit 0 when at least one answered")
        ->fallthrough();
    app.add_subcommand("history", HISTORY_HELP)->fallthrough();
    app.require_subcommand(1);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : EXIT_USAGE;
    }
    options.command = app.get_subcommands().front()->get_name();
    if (options.command == "discover" && (!options.imagesDir.empty() || options.telnetPort != 0)) {
        std::fprintf(stderr, "kivupgrade-cli: --images and --telnet-port do not apply to discover\n");
        return EXIT_USAGE;
    }
    if (options.command == "history" &&
        (!options.imagesDir.empty() || !options.targets.empty() || !options.interfaceName.empty() ||
         options.routerPort != 0 || options.telnetPort != 0 || options.timeScale > 0)) {
        std::fprintf(stderr, "kivupgrade-cli: history takes no option but --json\n");
        return EXIT_USAGE;
    }
    return -1;
}

RouterOverrides MakeOverrides(const Options& options)
{
    std::string problems;
    RouterOverrides overrides = LoadRouterOverrides(&problems);
    if (!problems.empty())
        std::fprintf(stderr, "Warning: %s\n", problems.c_str());
    if (!options.interfaceName.empty())
        overrides.interfaceName = options.interfaceName;
    if (!options.targets.empty()) {
        overrides.bTargetsGiven = true;
        overrides.targets.clear();
        for (const std::string& text : options.targets) {
            std::array<uint8_t, 4> address{};
            ParseIpv4(text, address);
            overrides.targets.push_back(address);
        }
    }
    if (options.routerPort)
        overrides.routerPort = options.routerPort;
    if (options.telnetPort)
        overrides.telnetPort = options.telnetPort;
    // A scale given on the command line is meant, whatever router it finds.
    if (options.timeScale > 0)
        overrides.timeScaleAnyRouter = true;
    return overrides;
}

// Prints the upgrade history; 1 when it exists and cannot be read.
int RunHistory(bool json)
{
    std::string why;
    const std::string path = UpgradeHistoryPath(&why);
    if (path.empty()) {
        std::fprintf(stderr, "kivupgrade-cli: no upgrade history: %s\n", why.c_str());
        return 1;
    }
    CHistoryCommand command(path);
    if (!command.Load()) {
        std::fprintf(stderr, "kivupgrade-cli: %s\n", MakePrintable(command.Error()).c_str());
        return 1;
    }
    if (command.SkippedLines() > 0)
        std::fprintf(stderr, "Warning: %zu line(s) of %s are not history entries; skipped\n", command.SkippedLines(),
                     MakePrintable(path).c_str());
    std::printf("%s%s", json ? command.FormatJson().c_str() : command.FormatText().c_str(), json ? "\n" : "");
    std::fflush(stdout);
    return 0;
}

// Runs discover on a worker while this thread watches for Ctrl-C, which ends the wait at once.
int RunDiscover(const RouterOverrides& overrides, bool json)
{
    CWsaEvent stop;
    CDiscoverCommand command(overrides, &stop);
    std::atomic<bool> done{false};
    std::fprintf(stderr, "Looking for routers...\n");
    std::thread worker([&] {
        command.Run();
        done = true;
    });
    while (!done) {
        if (TakeStopSignal(50 * 1000 * 1000) != 0) {
            command.SetInterrupted();
            stop.Set();
        }
    }
    worker.join();
    std::printf("%s%s", json ? command.FormatJson().c_str() : command.FormatText().c_str(), json ? "\n" : "");
    std::fflush(stdout);
    return command.ExitCode();
}

} // namespace

int main(int argc, char** argv)
{
    UseUtf8Console();
    CUtf8Arguments arguments(argc, argv);
    Options options;
    int rc = ParseOptions(arguments.Count(), arguments.Values(), options);
    if (rc >= 0)
        return rc;
    if (options.timeScale > 0)
        SetTimeScale(options.timeScale);
    if (const std::string notice = TimeScaleNotice(); !notice.empty() && options.command != "history")
        std::fprintf(stderr, "%s\n", notice.c_str());

    IgnoreBrokenPipes();
    BlockStopSignals(); // inherited by every thread started below

    const CSocketLibrary sockets;
    if (!StartSockets(sockets))
        return 1;
    RouterOverrides overrides = MakeOverrides(options);
    std::string problem;
    if (!UseInterface(overrides, &problem)) {
        std::fprintf(stderr, "kivupgrade-cli: --interface: %s\n", problem.c_str());
        return EXIT_USAGE;
    }
    if (options.command == "discover")
        return RunDiscover(overrides, options.json);
    if (options.command == "history")
        return RunHistory(options.json);
    CUniqueFd lock;
    std::string lockPath;
    if (!TakeRunLock(lock, lockPath)) {
        std::fprintf(stderr,
                     "kivupgrade-cli: another check or upgrade of this user is running (it holds %s); nothing was "
                     "sent. Run this one when it has ended.\n",
                     MakePrintable(lockPath).c_str());
        return 1;
    }
    CUpgradeCommand run(options.command, options.imagesDir, options.json, overrides);
    return run.Execute();
}
