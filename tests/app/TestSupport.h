#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/Clock.h"

namespace kivtest {

// Tests run time-scaled; the test script sets KIV_TIME_SCALE, a bare run gets 0.05.
inline void UseTestTimeScale()
{
    if (!std::getenv("KIV_TIME_SCALE"))
        SetTimeScale(0.05);
}

// A fresh directory under the temporary directory, removed by the destructor.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kiv-app-test.XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        m_Path = made ? made : "";
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!m_Path.empty())
            std::filesystem::remove_all(m_Path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

// A port on 127.0.0.1 that was free for TCP and UDP a moment ago.
inline uint16_t FreeLoopbackPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        int tcp = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        uint16_t port = 0;
        if (bind(tcp, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0
            && getsockname(tcp, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
        int udp = socket(AF_INET, SOCK_DGRAM, 0);
        bool udpFree = port != 0 && bind(udp, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(udp);
        close(tcp);
        if (udpFree)
            return port;
    }
    return 0;
}

} // namespace kivtest
