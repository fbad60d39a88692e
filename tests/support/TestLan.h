#pragma once

#include <string>
#include <vector>

namespace kivtest {

// The `ip` program (PATH, then /usr/sbin and /sbin); "" when it is not installed.
std::string IpProgram();

// Network namespaces of the test's own, named after their role and the test's pid, removed
// in every case: a LAN (or a loopback) where nothing leaves. Make needs root.
class TestLan {
public:
    explicit TestLan(std::vector<std::string> roles);
    ~TestLan();
    TestLan(const TestLan&) = delete;
    TestLan& operator=(const TestLan&) = delete;

    // The namespace of `role`.
    std::string Ns(const std::string& role) const;

    // Makes the namespaces and runs `steps` (arguments of `ip`); on failure `why` says what
    // could not be done.
    bool Make(const std::vector<std::vector<std::string>>& steps, std::string& why);

    // argv that runs `argv` inside the namespace of `role`.
    std::vector<std::string> In(const std::string& role, std::vector<std::string> argv) const;

private:
    bool Run(std::vector<std::string> args);

    std::string m_Ip;
    std::vector<std::string> m_Roles;
    std::vector<std::string> m_Made;
    std::string m_strLastError;
};

} // namespace kivtest
