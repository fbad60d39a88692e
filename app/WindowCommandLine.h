#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/RouterOverrides.h"

class CKivOneClickDlg;

// The desktop program's own command-line options, read before the window system is opened
// so that --help, --version and a usage error need no display. They are the command line's
// router options: --target, --router-port, --telnet-port, --images, --interface and
// --time-scale. Qt's own options (-platform NAME, -style NAME, ...) are left to
// QApplication; anything else is a usage error.

// What the options ask for; zero and empty mean "not given".
struct WindowOptions {
    std::vector<std::array<uint8_t, 4>> targets;
    uint16_t routerPort = 0;
    uint16_t telnetPort = 0;
    std::string imagesDir;
    std::string interfaceName;
    double timeScale = 0;
    // A Qt option chose the platform (-platform NAME): the display is the plugin's concern.
    bool platformGiven = false;
};

// The parsed command line: go on (status -1) with the options, or exit with `status` after
// printing `output` on standard output (--help, --version) or `error` on standard error.
struct WindowCommandLine {
    int status = -1;
    std::string output;
    std::string error;
    WindowOptions options;
};

// The text of --help.
std::string WindowHelpText();

// "kivupgrade VERSION", the version taken from the program's version resource (the one the
// window title shows).
std::string WindowVersionText();

// Reads `arguments` (the first is the program itself).
WindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments);

// ParseWindowCommandLine on main's arguments; prints what it says and puts --time-scale in
// force. Returns -1 when the program should go on starting (with `options` filled), else the
// exit status.
int HandleWindowCommandLine(int argc, char** argv, WindowOptions& options);

// The router overrides of the environment (KIV_DISCOVERY_TARGETS, ...), then the options
// over them, as the command line combines them. Problems with the environment's values go
// to `problems`.
RouterOverrides WindowRouterOverrides(const WindowOptions& options, std::string* problems = nullptr);

// Sets the controller up as a window starts: the router overrides (WindowRouterOverrides),
// the image directory (--images, else KIV_IMAGE_DIR for development and demo runs) and the
// interface every socket is tied to. Problems with the environment's values go to `notes`;
// false, with `error`, when the interface cannot be used. Every window program's start.
bool ApplyWindowOptions(const WindowOptions& options, CKivOneClickDlg& dlg, std::string& notes, std::string& error);
