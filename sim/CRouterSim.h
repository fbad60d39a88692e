#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "platform/CPollableEvent.h"
#include "platform/CUniqueFd.h"
#include "sim/CSimConfig.h"

class CSimContext;
class CUdpService;
class ISession;

// The virtual router as a server: the UDP port, the TCP transfer/diagnostic port and the
// Telnet port, all bound to the configured address only, served by one poll() loop.
// Run it on the caller's thread (Run) or on a thread of its own (Start / Stop).
class CRouterSim {
public:
    static constexpr size_t MAX_PENDING_OUTPUT = 4u * 1024u * 1024u;
    static constexpr size_t RECEIVE_CHUNK = 65536;
    // Receives of one connection per loop turn, at most.
    static constexpr size_t RECEIVES_PER_TURN = 16;

    explicit CRouterSim(const CSimConfig& config);
    ~CRouterSim();
    CRouterSim(const CRouterSim&) = delete;
    CRouterSim& operator=(const CRouterSim&) = delete;

    // Opens the transcript and binds every port; false with a reason.
    bool Open(std::string& error);
    // Ports actually bound (useful when 0 asked for any free port).
    uint16_t RouterPort() const { return m_nRouterPort; }
    uint16_t TelnetPort() const { return m_nTelnetPort; }
    // The line announcing that every port listens.
    std::string ReadyLine() const;

    // Serves until Stop, or until `extraStopFd` becomes readable (a signalfd, say).
    void Run(int extraStopFd = -1);
    // Run on an owned thread; Stop ends and joins it.
    bool Start();
    void Stop();

    uint32_t ViolationCount() const;

private:
    struct Connection;
    // A UDP reply waiting for its drawn latency.
    struct DelayedDatagram {
        uint32_t due;
        std::vector<uint8_t> bytes;
        sockaddr_in to;
    };

    bool BindTcp(uint16_t port, CUniqueFd& fd, uint16_t& bound, std::string& error);
    bool BindUdp(uint16_t port, std::string& error);
    // Faults telnet-no-connect and router-no-connect: the listener's accept queue is filled
    // by a connection of the simulator's own that is never accepted, so the system drops
    // every later connection request unanswered.
    bool FillAcceptQueue(const CUniqueFd& listener, uint16_t port, std::string& error);
    void BindBroadcastListeners(uint16_t port);
    void AcceptAll(int listenFd, bool telnet);
    void ReadUdp(int fd);
    void ServeConnection(Connection& conn, short revents);
    void Flush(Connection& conn);
    void DropConnection(size_t index, bool reset);
    void TickAll();
    void SendDatagram(std::vector<uint8_t> bytes, const sockaddr_in& to);
    void SendDueDatagrams(uint32_t now);
    // Fault discovery-flood: sends the next wrong record when it is due.
    void TickFlood(uint32_t now);
    int PollTimeout() const;
    size_t CountConnections(bool telnet) const;

    CSimConfig m_Config;
    std::unique_ptr<CSimContext> m_pContext;
    std::unique_ptr<CUdpService> m_pUdp;
    CUniqueFd m_UdpFd;
    // Sockets bound to the LAN's broadcast addresses, so that discovery broadcasts reach a
    // simulator that serves a real interface address; replies leave through m_UdpFd.
    std::vector<CUniqueFd> m_BroadcastFds;
    CUniqueFd m_TcpListenFd;
    CUniqueFd m_TelnetListenFd;
    std::vector<CUniqueFd> m_QueueFillers; // see FillAcceptQueue; their listeners are not served
    uint16_t m_nRouterPort = 0;
    uint16_t m_nTelnetPort = 0;
    std::vector<std::unique_ptr<Connection>> m_Connections;
    uint32_t m_nNextConn = 1;
    std::vector<DelayedDatagram> m_DelayedDatagrams; // in the order they are due
    // Fault discovery-flood: who asked last, on which address, and when the next record goes.
    bool m_bFlooding = false;
    sockaddr_in m_FloodTo{};
    std::array<uint8_t, 4> m_FloodArrivedOn{};
    uint32_t m_nNextFlood = 0;
    CPollableEvent m_StopEvent;
    std::thread m_Thread;
};
