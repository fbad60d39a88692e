// kivrouter-sim as a program: the "ready" line, signals and the exit status.

#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "diag/CUdpHdlc.h"
#include "platform/UniqueFd.h"
#include "tests/sim/SimTestSupport.h"

namespace {

class SimProcess {
public:
    ~SimProcess()
    {
        if (m_Pid > 0) {
            kill(m_Pid, SIGKILL);
            waitpid(m_Pid, nullptr, 0);
        }
    }

    bool Start(std::vector<std::string> args)
    {
        const char* dir = std::getenv("KIV_TEST_BIN_DIR");
        const std::string program = std::string(dir ? dir : ".") + "/sim/kivrouter-sim";
        args.insert(args.begin(), program);
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        m_Pid = fork();
        if (m_Pid == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        m_Out.Reset(pipeFds[0]);
        return m_Pid > 0;
    }

    // Reads standard output until a whole line arrived or 10 s passed.
    std::string ReadLine()
    {
        std::string line;
        char c = 0;
        pollfd pfd{m_Out.Get(), POLLIN, 0};
        while (poll(&pfd, 1, 10000) == 1 && read(m_Out.Get(), &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    // Sends `sig` and returns the exit status, or -1 when it did not exit normally in time.
    int Stop(int sig)
    {
        kill(m_Pid, sig);
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
                m_Pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

private:
    pid_t m_Pid = -1;
    UniqueFd m_Out;
};

uint16_t PortOf(const std::string& line, const std::string& key)
{
    const size_t at = line.find(key + "=");
    return at == std::string::npos ? 0 : static_cast<uint16_t>(std::stoi(line.substr(at + key.size() + 1)));
}

TEST(SimProcessTest, ReadyLineThenCleanExitOnSignals)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--router-port", "0", "--telnet-port", "0", "--time-scale", "0.05"}));
        const std::string line = sim.ReadLine();
        ASSERT_NE(std::string::npos, line.find("ready")) << line;
        const uint8_t loopback[4] = {127, 0, 0, 1};
        CUdpHdlc udp(loopback, PortOf(line, "router-port"));
        uint8_t mac[6], ip[4];
        EXPECT_TRUE(udp.Discover(mac, ip, nullptr));
        EXPECT_EQ(0, sim.Stop(sig));
    }
}

TEST(SimProcessTest, StrictModeFailsAfterAViolation)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--router-port", "0", "--telnet-port", "0", "--strict"}));
    const std::string line = sim.ReadLine();
    ASSERT_NE(std::string::npos, line.find("ready")) << line;
    const uint8_t loopback[4] = {127, 0, 0, 1};
    CUdpHdlc udp(loopback, PortOf(line, "router-port"));
    udp.m_Request.SetType(UDP_READY_PROBE); // without the router's address and MAC
    EXPECT_FALSE(udp.Exchange(200));
    EXPECT_EQ(3, sim.Stop(SIGTERM));
}

TEST(SimProcessTest, UsageErrors)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--fault", "no-such-fault"}));
    EXPECT_EQ(2, sim.Stop(0)); // signal 0: just wait for the exit
}

} // namespace
