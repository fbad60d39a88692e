#include "platform/CommandLine.h"

#include <unistd.h>

CUtf8Arguments::CUtf8Arguments(int argc, char** argv)
{
    for (int i = 0; i < argc; ++i)
        m_Values.emplace_back(argv[i]);
    for (std::string& value : m_Values)
        m_Pointers.push_back(value.data());
    m_Pointers.push_back(nullptr);
}

void UseUtf8Console() {}

bool IsInteractiveTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }
