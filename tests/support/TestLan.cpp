#include "tests/support/TestLan.h"

#include <unistd.h>

#include <chrono>

#include "tests/support/Process.h"

namespace kivtest {

std::string IpProgram() { return FindProgram("ip", "/usr/sbin:/sbin"); }

TestLan::TestLan(std::vector<std::string> roles) : m_Ip(IpProgram()), m_Roles(std::move(roles)) {}

TestLan::~TestLan()
{
    for (const std::string& ns : m_Made)
        Run({"netns", "del", ns});
}

std::string TestLan::Ns(const std::string& role) const { return "kiv" + role + std::to_string(getpid()); }

bool TestLan::Make(const std::vector<std::vector<std::string>>& steps, std::string& why)
{
    if (m_Ip.empty()) {
        why = "the ip program is not installed";
        return false;
    }
    if (geteuid() != 0) {
        why = "network namespaces need root";
        return false;
    }
    for (const std::string& role : m_Roles) {
        if (!Run({"netns", "add", Ns(role)})) {
            why = "ip netns add failed: " + m_strLastError;
            return false;
        }
        m_Made.push_back(Ns(role));
    }
    for (const auto& step : steps) {
        if (!Run(step)) {
            why = "ip";
            for (size_t i = 0; i < step.size() && i < 3; ++i)
                why += " " + step[i];
            why += " failed: " + m_strLastError;
            return false;
        }
    }
    return true;
}

std::vector<std::string> TestLan::In(const std::string& role, std::vector<std::string> argv) const
{
    argv.insert(argv.begin(), {m_Ip, "netns", "exec", Ns(role)});
    return argv;
}

bool TestLan::Run(std::vector<std::string> args)
{
    args.insert(args.begin(), m_Ip);
    Process ip;
    if (!ip.Start(args))
        return false;
    const int rc = ip.Wait(std::chrono::seconds(30));
    m_strLastError = ip.Err();
    return rc == 0;
}

} // namespace kivtest
