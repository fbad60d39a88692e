#pragma once

#include <string>

// The desktop program's own command-line options, read before the window system is opened
// so that --help and --version work without a display. Every other argument is left to
// QApplication, which takes its own options (-platform NAME, -style NAME, ...).

// The text of --help.
std::string WindowHelpText();

// "kivupgrade VERSION", the version taken from the program's version resource (the one the
// window title shows).
std::string WindowVersionText();

// Handles --help/-h and --version. Returns -1 when the program should go on starting,
// else the exit status (the text has been printed on standard output).
int HandleWindowCommandLine(int argc, char** argv);
