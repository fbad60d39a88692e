#pragma once

#include <string>
#include <vector>

// The desktop program's own command-line options, read before the window system is opened
// so that --help and --version work without a display. Every other argument is left to
// QApplication, which takes its own options (-platform NAME, -style NAME, ...).

// The text of --help.
std::string WindowHelpText();

// "kivupgrade VERSION", the version taken from the program's version resource (the one the
// window title shows).
std::string WindowVersionText();

// The NAME of the last "--interface NAME" or "--interface=NAME" among `arguments` (the
// first is the program itself); empty when there is none.
std::string WindowInterfaceArgument(const std::vector<std::string>& arguments);

// Handles --help/-h and --version (and --interface without a name, a usage error). Returns -1 when the program should go on starting,
// else the exit status (the text has been printed on standard output).
int HandleWindowCommandLine(int argc, char** argv);
