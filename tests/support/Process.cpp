#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/CUniqueFd.h"

extern char** environ;

namespace kivtest {

namespace {

std::vector<std::string> MergedEnvironment(const Process::Env& changes)
{
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0)
            merged.push_back(text);
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty())
            merged.push_back(name + "=" + value);
    }
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

std::string BuildProgram(const std::string& relative)
{
    const char* dir = std::getenv("KIV_TEST_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + relative;
}

std::string FindProgram(const std::string& name, const std::string& extraDirs)
{
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path != nullptr ? path : "") + ":" + extraDirs;
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        start = end + 1;
        if (dir.empty())
            continue;
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

Process::~Process() { Kill(); }

bool Process::Start(const std::vector<std::string>& argv, const Env& env, int stdioFd)
{
    if (argv.empty() || m_Pid > 0) {
        m_strError = argv.empty() ? "no program given" : "already running";
        return false;
    }
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return m_strError = std::strerror(errno), false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        m_strError = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdioFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdioFd, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, stdioFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> envText = MergedEnvironment(env);
    std::vector<char*> envp = Pointers(envText);
    std::vector<std::string> args = argv;
    std::vector<char*> argp = Pointers(args);
    const int rc = ::posix_spawn(&m_Pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_Out = out[0];
    m_Err = err[0];
    m_strOut.clear();
    m_strErr.clear();
    if (rc != 0) {
        m_Pid = -1;
        m_strError = "cannot start " + argv[0] + ": " + std::strerror(rc);
        CloseFds();
        return false;
    }
    return true;
}

bool Process::ReadUntil(const Until& until, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (until && until(m_strOut, m_strErr))
            return true;
        if (m_Out < 0 && m_Err < 0)
            return !until;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fds[2] = {{m_Out, POLLIN, 0}, {m_Err, POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return false;
        ReadOne(fds[0].revents, m_Out, m_strOut);
        ReadOne(fds[1].revents, m_Err, m_strErr);
    }
}

std::string Process::FirstLine(std::chrono::milliseconds limit)
{
    const auto hasLine = [](const std::string& out, const std::string&) { return out.find('\n') != std::string::npos; };
    if (!ReadUntil(hasLine, limit))
        return std::string();
    return m_strOut.substr(0, m_strOut.find('\n'));
}

int Process::Wait(std::chrono::milliseconds limit)
{
    if (m_Pid <= 0)
        return m_nStatus;
    if (!ReadUntil(nullptr, limit)) {
        Kill();
        return -1;
    }
    // The pipes ended; the process may still be ending, or run on without its output: wait
    // for its end on a process descriptor, up to the limit.
    CUniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, m_Pid, 0)));
    if (pidFd.Valid()) {
        pollfd fd{pidFd.Get(), POLLIN, 0};
        int rc;
        do {
            rc = ::poll(&fd, 1, static_cast<int>(limit.count()));
        } while (rc < 0 && errno == EINTR);
        if (rc == 0) {
            Kill();
            return -1;
        }
    }
    return Reap();
}

int Process::Stop(int sig, std::chrono::milliseconds limit)
{
    if (m_Pid <= 0)
        return m_nStatus;
    if (sig != 0)
        Signal(sig);
    return Wait(limit);
}

bool Process::Alive()
{
    if (m_Pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_Pid, &status, WNOHANG) != m_Pid)
        return true;
    m_Pid = -1;
    m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

void Process::Signal(int sig)
{
    if (m_Pid > 0)
        ::kill(m_Pid, sig);
}

void Process::ReadOne(short revents, int& fd, std::string& text)
{
    if (fd < 0 || (revents & (POLLIN | POLLHUP | POLLERR)) == 0)
        return;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        ::close(fd);
        fd = -1;
    }
}

int Process::Reap()
{
    if (m_Pid <= 0)
        return m_nStatus;
    int status = 0;
    while (::waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_Pid = -1;
    m_nStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    CloseFds();
    return m_nStatus;
}

void Process::Kill()
{
    if (m_Pid > 0) {
        ::kill(m_Pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_Pid = -1;
    }
    CloseFds();
}

void Process::CloseFds()
{
    if (m_Out >= 0)
        ::close(m_Out);
    if (m_Err >= 0)
        ::close(m_Err);
    m_Out = m_Err = -1;
}

RunResult RunProgram(const std::vector<std::string>& argv, const Process::Env& env, std::chrono::milliseconds limit)
{
    RunResult result;
    Process process;
    if (!process.Start(argv, env)) {
        result.err = process.Error();
        return result;
    }
    result.status = process.Wait(limit);
    result.out = process.Out();
    result.err = process.Err();
    return result;
}

} // namespace kivtest
