#pragma once

#include <gtest/gtest.h>

#include <string>

#include "net/Socket.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace kivtest {

// busybox from PATH (package busybox-static: the plain busybox has no telnetd); "" when none.
std::string Busybox();
// True when that busybox has the telnetd applet.
bool BusyboxHasTelnetd();

// A real Telnet server: busybox telnetd serving one connection in inetd mode. The test
// accepts the connection on its own listener (TcpListener) and hands it over, so no port is
// chosen in advance. Its "login" is a small shell script: "Login:", "Password:", then the
// prompt "router# ", answering "nvram get cfe_version" with "CFE 1.2.3".
class BusyboxTelnetd {
public:
    // Serves the connection `connection`.
    ::testing::AssertionResult Serve(CSocketHandle connection);
    // What telnetd wrote to standard error so far (read for up to 100 ms).
    std::string Err();

private:
    TempDir m_Dir{"kiv-telnetd"};
    Process m_Process;
};

} // namespace kivtest
