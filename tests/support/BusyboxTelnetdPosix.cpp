#include "tests/support/BusyboxTelnetd.h"

#include <sys/stat.h>

#include "tests/support/Files.h"

namespace kivtest {

namespace {

constexpr const char* LOGIN =
    "#!/bin/sh\n"
    "printf 'Login:'\n"
    "read user\n"
    "printf 'Password:'\n"
    "read pass\n"
    "printf 'router# '\n"
    "while read line; do\n"
    "  case \"$line\" in\n"
    "    *cfe_version*) echo 'CFE 1.2.3' ;;\n"
    "    *) echo \"unknown: $line\" ;;\n"
    "  esac\n"
    "  printf 'router# '\n"
    "done\n";

} // namespace

std::string Busybox() { return FindProgram("busybox"); }

bool BusyboxHasTelnetd() { return RunProgram({Busybox(), "--list"}).out.find("telnetd\n") != std::string::npos; }

::testing::AssertionResult BusyboxTelnetd::Serve(CSocketHandle connection)
{
    if (!WriteFile(m_Dir / "issue", std::string()) || !WriteFile(m_Dir / "login.sh", LOGIN) ||
        ::chmod((m_Dir / "login.sh").c_str(), 0700) != 0)
        return ::testing::AssertionFailure() << "cannot write the login script";
    if (!m_Process.Start({Busybox(), "telnetd", "-i", "-K", "-l", m_Dir / "login.sh", "-f", m_Dir / "issue"}, {},
                         connection.Get()))
        return ::testing::AssertionFailure() << m_Process.Error();
    return ::testing::AssertionSuccess();
}

std::string BusyboxTelnetd::Err()
{
    m_Process.ReadUntil(nullptr, std::chrono::milliseconds(100));
    return m_Process.Err();
}

} // namespace kivtest
