#include "app/WindowCommandLine.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/CKivOneClickDlg.h"
#include "app/CModuleVersion.h"
#include "platform/Clock.h"
#include "wire/RouterAddress.h"

namespace {

// Qt's own options: those that take a value, then those that do not.
constexpr const char* QT_OPTIONS_WITH_VALUE[] = {
    "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
    "display",     "geometry",           "title",         "name",   "qmljsdebugger"};
constexpr const char* QT_FLAGS[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The name of an option without its dashes and "=VALUE" ("--style=fusion" -> "style").
std::string BareName(const std::string& argument)
{
    const size_t start = argument.compare(0, 2, "--") == 0 ? 2 : 1;
    return argument.substr(start,
                           argument.find('=') == std::string::npos ? std::string::npos : argument.find('=') - start);
}

bool IsOneOf(const std::string& name, const auto& names)
{
    for (const char* n : names) {
        if (name == n)
            return true;
    }
    return false;
}

bool ParseScale(const std::string& text, double& scale)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0)
        return false;
    scale = value;
    return true;
}

bool Refuse(std::string& error, const std::string& text)
{
    error = text;
    return false;
}

// Applies one of the window's own options to `options`; false with `error` for a bad value.
bool ApplyOption(const std::string& name, const std::string& value, WindowOptions& options, std::string& error)
{
    if (name == "--target") {
        std::array<uint8_t, 4> address{};
        if (!ParseIpv4(value, address))
            return Refuse(error, "--target: not a dotted IPv4 address: " + value);
        options.targets.push_back(address);
    } else if (name == "--router-port" || name == "--telnet-port") {
        uint16_t port = 0;
        if (!ParsePort(value, port))
            return Refuse(error, name + ": not a port number (1 to 65535): " + value);
        (name == "--router-port" ? options.routerPort : options.telnetPort) = port;
    } else if (name == "--images") {
        std::error_code ec;
        if (!std::filesystem::is_directory(value, ec))
            return Refuse(error, "--images: not a directory: " + value);
        options.imagesDir = value;
    } else if (name == "--interface") {
        if (value.empty())
            return Refuse(error, "--interface needs the name of a network interface");
        options.interfaceName = value;
    } else if (name == "--time-scale") {
        if (!ParseScale(value, options.timeScale))
            return Refuse(error, "--time-scale: not a positive number: " + value);
    }
    return true;
}

bool IsOwnOption(const std::string& name)
{
    for (const char* own : {"--target", "--router-port", "--telnet-port", "--images", "--interface", "--time-scale"}) {
        if (name == own)
            return true;
    }
    return false;
}

} // namespace

std::string WindowHelpText()
{
    return "Check and upgrade the 3G router's firmware from the desktop.\n"
           "Usage: kivupgrade [OPTIONS]\n"
           "\n"
           "Opens the upgrade window: \"Check\" finds the router on the LAN and reads every\n"
           "component's version, \"Upgrade\" writes every image the program has. The images are\n"
           "those carried by the program, else the *.bin files of the installation's\n"
           "share/kivupgrade/images (beside the program for a build).\n"
           "\n"
           "Options:\n"
           "  -h,--help                   Print this help message and exit\n"
           "  --version                   Display program version information and exit\n"
           "  --images DIR                Take the *.bin images from this directory only\n"
           "  --target ADDR               Discovery target address, three tries each, in order\n"
           "                              (repeatable; default 192.168.1.255 then 255.255.255.255)\n"
           "  --router-port N             Router UDP and TCP port (default " +
           std::to_string(ROUTER_PORT) +
           ")\n"
           "  --telnet-port N             Router Telnet port (default " +
           std::to_string(TELNET_PORT) +
           ")\n"
           "  --interface NAME            Tie every socket to this network interface (e.g. eth1), so the\n"
           "                              router is found through it even when another interface is on\n"
           "                              the same subnet (Linux 5.7 or later; older kernels: root or\n"
           "                              CAP_NET_RAW)\n"
           "  --time-scale S              Scale every pause and time-out by S (tests against the\n"
           "                              virtual router only; a real router needs the default 1)\n"
           "\n"
           "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n"
           "\n"
           "Environment (the options win):\n"
           "  KIV_DISCOVERY_TARGETS       Discovery targets, comma-separated dotted addresses\n"
           "                              (default 192.168.1.255,255.255.255.255)\n"
           "  KIV_INTERFACE               The same as --interface\n"
           "  KIV_ROUTER_PORT             Router UDP and TCP port (default " +
           std::to_string(ROUTER_PORT) +
           ")\n"
           "  KIV_TELNET_PORT             Router Telnet port (default " +
           std::to_string(TELNET_PORT) +
           ")\n"
           "  KIV_TIME_SCALE              Scale every pause and time-out (default 1); toward a router\n"
           "                              off loopback only with KIV_TIME_SCALE_ANY_ROUTER=1\n"
           "  KIV_IMAGE_DIR               Take the *.bin images from this directory only\n";
}

std::string WindowVersionText()
{
    CModuleVersion version;
    std::string text = "kivupgrade";
    if (version.GetFileVersionInfo(""))
        text += " " + version.GetValue("ProductVersion");
    return text;
}

WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments)
{
    WindowCommandLine result;
    auto usageError = [&](const std::string& text) {
        result.status = 2;
        result.error = "kivupgrade: " + text + "\nRun \"kivupgrade --help\" for the options.\n";
        return result;
    };
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            result.status = 0;
            result.output = WindowHelpText();
            return result;
        }
        if (argument == "--version") {
            result.status = 0;
            result.output = WindowVersionText() + "\n";
            return result;
        }
        if (argument.size() < 2 || argument[0] != '-')
            return usageError("unexpected argument: " + argument);
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (IsOwnOption(name)) {
            std::string value;
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else
                return usageError(name + " needs a value");
            std::string error;
            if (!ApplyOption(name, value, result.options, error))
                return usageError(error);
            continue;
        }
        const std::string bare = BareName(argument);
        if (IsOneOf(bare, QT_OPTIONS_WITH_VALUE)) {
            if (equals == std::string::npos && ++i >= arguments.size())
                return usageError(argument + " needs a value");
            result.options.platformGiven = result.options.platformGiven || bare == "platform";
            continue;
        }
        if (!IsOneOf(bare, QT_FLAGS))
            return usageError("unknown option " + argument);
    }
    return result;
}

int HandleWindowCommandLine(int argc, char** argv, WindowOptions& options)
{
    const WindowCommandLine parsed = ParseWindowCommandLine(std::vector<std::string>(argv, argv + argc));
    std::fputs(parsed.output.c_str(), stdout);
    std::fputs(parsed.error.c_str(), stderr);
    options = parsed.options;
    if (options.timeScale > 0)
        SetTimeScale(options.timeScale);
    return parsed.status;
}

RouterOverrides WindowRouterOverrides(const WindowOptions& options, std::string* problems)
{
    RouterOverrides overrides = LoadRouterOverrides(problems);
    if (!options.targets.empty()) {
        overrides.targets = options.targets;
        overrides.bTargetsGiven = true;
    }
    if (options.routerPort != 0)
        overrides.routerPort = options.routerPort;
    if (options.telnetPort != 0)
        overrides.telnetPort = options.telnetPort;
    if (!options.interfaceName.empty())
        overrides.interfaceName = options.interfaceName;
    // A scale given on the command line is meant, whatever router it finds.
    if (options.timeScale > 0)
        overrides.timeScaleAnyRouter = true;
    return overrides;
}

bool ApplyWindowOptions(const WindowOptions& options, CKivOneClickDlg& dlg, std::string& notes, std::string& error)
{
    RouterOverrides overrides = WindowRouterOverrides(options, &notes);
    if (!options.imagesDir.empty())
        dlg.SetImageDirectory(options.imagesDir);
    else if (const char* dir = std::getenv("KIV_IMAGE_DIR"); dir != nullptr && *dir != '\0')
        dlg.SetImageDirectory(dir);
    if (!UseInterface(overrides, &error))
        return false;
    dlg.SetRouterOverrides(overrides);
    return true;
}
