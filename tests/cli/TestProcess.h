#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kivtest {

// A child process started by a test, with its standard output and error read through
// pipes. The owner stops it (by its own pid) and reaps it in every case.
class TestProcess {
public:
    // `env` entries are added to (or replace, or with an empty value remove) the
    // test's own environment.
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {})
    {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            std::string name = entry.substr(0, entry.find('='));
            if (!env.count(name))
                envText.push_back(entry);
        }
        for (const auto& [name, value] : env) {
            if (!value.empty())
                envText.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (std::string& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (std::string& a : args)
            argp.push_back(a.data());
        argp.push_back(nullptr);

        int rc = posix_spawn(&m_Pid, argp[0], &actions, nullptr, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_Out = out[0];
        m_Err = err[0];
        if (rc != 0) {
            m_Pid = -1;
            return false;
        }
        return true;
    }

    ~TestProcess() { Kill(); }

    // Reads output until `until` holds for (stdout, stderr) or both pipes end or the
    // deadline passes. True when `until` held (or the pipes ended, for a null `until`).
    bool ReadUntil(const std::function<bool(const std::string&, const std::string&)>& until,
        std::chrono::milliseconds limit)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            if (until && until(m_strOut, m_strErr))
                return true;
            if (m_Out < 0 && m_Err < 0)
                return !until;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fds[2] = {{m_Out, POLLIN, 0}, {m_Err, POLLIN, 0}};
            int n = poll(fds, 2, static_cast<int>(left.count()));
            if (n < 0 && errno != EINTR)
                return false;
            ReadOne(fds[0], m_Out, m_strOut);
            ReadOne(fds[1], m_Err, m_strErr);
        }
    }

    // Waits for the end of the output and of the process. The exit status, or -1 when the
    // process had to be killed at the deadline, or 128 + signal.
    int Wait(std::chrono::milliseconds limit)
    {
        if (!ReadUntil(nullptr, limit)) {
            Kill();
            return -1;
        }
        return Reap();
    }

    void Signal(int sig)
    {
        if (m_Pid > 0)
            kill(m_Pid, sig);
    }

    // Asks the process to stop (SIGTERM), then waits for it; SIGKILL if it does not end.
    int Stop(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        if (m_Pid <= 0)
            return m_nStatus;
        Signal(SIGTERM);
        if (!ReadUntil(nullptr, limit)) {
            Kill();
            return -1;
        }
        return Reap();
    }

    const std::string& Out() const { return m_strOut; }
    const std::string& Err() const { return m_strErr; }
    pid_t Pid() const { return m_Pid; }

private:
    void ReadOne(const pollfd& p, int& fd, std::string& text)
    {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(fd);
            fd = -1;
        }
    }

    int Reap()
    {
        if (m_Pid <= 0)
            return m_nStatus;
        int status = 0;
        while (waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_Pid = -1;
        m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        CloseFds();
        return m_nStatus;
    }

    void Kill()
    {
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            int status = 0;
            while (waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_Pid = -1;
        }
        CloseFds();
    }

    void CloseFds()
    {
        if (m_Out >= 0)
            close(m_Out);
        if (m_Err >= 0)
            close(m_Err);
        m_Out = m_Err = -1;
    }

    pid_t m_Pid = -1;
    int m_Out = -1;
    int m_Err = -1;
    int m_nStatus = -1;
    std::string m_strOut;
    std::string m_strErr;
};

// Path of a program of the build under test.
inline std::string BuildProgram(const std::string& relative)
{
    const char* dir = std::getenv("KIV_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/" + relative;
}

} // namespace kivtest
