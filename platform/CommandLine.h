#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/NonCopyable.h"

// The program's command-line arguments as UTF-8, in the argc/argv form that parsers take.
// On POSIX they are main()'s own; on Windows they are read again from the wide command line,
// since main()'s argv holds the ANSI code page and loses every character outside it.
class CUtf8Arguments : public NonCopyable {
public:
    CUtf8Arguments(int argc, char** argv);
    ~CUtf8Arguments() override = default;

    int Count() const { return static_cast<int>(m_Values.size()); }
    // argv-style: Count() pointers to the arguments, then a null pointer.
    char** Values() { return m_Pointers.data(); }

private:
    std::vector<std::string> m_Values;
    std::vector<char*> m_Pointers;
};

// Makes standard output and standard error take UTF-8 text: on Windows a console is switched
// to the UTF-8 code page (output to a file or a pipe is bytes anyway); nothing to do on POSIX.
void UseUtf8Console();

// True when `stream` is a terminal that can be redrawn in place with the VT100 cursor
// controls (cursor up, erase line). On Windows: a console, switched to process those controls
// (ENABLE_VIRTUAL_TERMINAL_PROCESSING); false for a file or a pipe, and for a console that
// cannot process them.
bool IsInteractiveTerminal(std::FILE* stream);
