#include "app/WindowCommandLine.h"

#include <cstdio>
#include <cstring>

#include "app/CModuleVersion.h"
#include "app/VersionResource.h"

std::string WindowHelpText()
{
    return "Check and upgrade the 3G router's firmware from the desktop.\n"
           "Usage: kivupgrade [OPTIONS]\n"
           "\n"
           "Opens the upgrade window: \"Check\" finds the router on the LAN and reads every\n"
           "component's version, \"Upgrade\" writes every image the program has. The images are\n"
           "those carried by the program, else the *.bin files beside it, then those in the\n"
           "installation's share/kivupgrade/images.\n"
           "\n"
           "Options:\n"
           "  -h,--help                   Print this help message and exit\n"
           "  --version                   Display program version information and exit\n"
           "  --interface NAME            Tie every socket to this network interface (e.g. eth1), so the\n"
           "                              router is found through it even when another interface is on\n"
           "                              the same subnet (Linux 5.7 or later; older kernels: root or\n"
           "                              CAP_NET_RAW)\n"
           "\n"
           "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n"
           "\n"
           "Environment:\n"
           "  KIV_DISCOVERY_TARGETS       Discovery targets, comma-separated dotted addresses\n"
           "                              (default 192.168.1.255,255.255.255.255)\n"
           "  KIV_INTERFACE               The same as --interface\n"
           "  KIV_ROUTER_PORT             Router UDP and TCP port (default 1280)\n"
           "  KIV_TELNET_PORT             Router Telnet port (default 23)\n"
           "  KIV_TIME_SCALE              Scale every pause and time-out (default 1); toward a router\n"
           "                              off loopback only with KIV_TIME_SCALE_ANY_ROUTER=1\n"
           "  KIV_IMAGE_DIR               Take the *.bin images from this directory only\n";
}

std::string WindowVersionText()
{
    CModuleVersion version;
    std::string text = "kivupgrade";
    if (version.LoadVersionData(KivVersionResourceData(), KivVersionResourceSize()))
        text += " " + version.GetValue("ProductVersion");
    return text;
}

std::string WindowInterfaceArgument(const std::vector<std::string>& arguments)
{
    std::string name;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--interface" && i + 1 < arguments.size())
            name = arguments[++i];
        else if (arguments[i].rfind("--interface=", 0) == 0)
            name = arguments[i].substr(12);
    }
    return name;
}

int HandleWindowCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--interface") == 0 && i + 1 == argc) {
            std::fputs("kivupgrade: --interface needs the name of a network interface\n", stderr);
            return 2;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(WindowHelpText().c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", WindowVersionText().c_str());
            return 0;
        }
    }
    return -1;
}
