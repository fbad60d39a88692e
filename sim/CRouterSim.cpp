#include "sim/CRouterSim.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "sim/CSimContext.h"
#include "sim/CTcpSession.h"
#include "sim/CTelnetSession.h"
#include "sim/CUdpService.h"
#include "wire/RouterAddress.h"

struct CRouterSim::Connection {
    CUniqueFd fd;
    std::unique_ptr<ISession> session;
    uint32_t id = 0;
    bool telnet = false;
    uint32_t lastInput = 0;
    bool peerClosed = false;
};

namespace {

// Datagrams taken per loop turn, so that a flood cannot starve the TCP side.
constexpr int MAX_DATAGRAMS_PER_TURN = 64;
// Longest poll() wait, so that idle time-outs are looked at now and then.
constexpr uint32_t MAX_POLL_MS = 1000;
constexpr int UDP_BIND_TRIES = 20;

// The address was checked on the command line.
sockaddr_in MakeAddress(const std::string& address, uint16_t port)
{
    std::array<uint8_t, 4> bytes{};
    ParseIpv4(address, bytes);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(ReadBe32(bytes.data()));
    return sa;
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

} // namespace

CRouterSim::CRouterSim(const CSimConfig& config) : m_Config(config)
{
    if (m_Config.timeScale > 0)
        SetTimeScale(m_Config.timeScale);
    m_pContext = std::make_unique<CSimContext>(m_Config);
    m_pUdp = std::make_unique<CUdpService>(*m_pContext);
}

CRouterSim::~CRouterSim() { Stop(); }

bool CRouterSim::Open(std::string& error)
{
    if (!m_Config.transcriptPath.empty() && !m_pContext->Transcript().Open(m_Config.transcriptPath, error))
        return false;
    if (m_StopEvent.Handle() < 0) {
        error = "cannot create the stop event";
        return false;
    }
    bool bound = false;
    for (int attempt = 0; attempt < UDP_BIND_TRIES && !bound; ++attempt) {
        if (!BindTcp(m_Config.routerPort, m_TcpListenFd, m_nRouterPort, error))
            return false;
        bound = BindUdp(m_nRouterPort, error);
        if (!bound && (m_Config.routerPort != 0 || errno != EADDRINUSE))
            return false;
    }
    if (!bound)
        return false;
    BindBroadcastListeners(m_nRouterPort);
    if (m_Config.faults.Has(Fault::TelnetRefused)) {
        m_nTelnetPort = m_Config.telnetPort;
    } else if (!BindTcp(m_Config.telnetPort, m_TelnetListenFd, m_nTelnetPort, error)) {
        return false;
    }
    if (m_Config.faults.Has(Fault::RouterNoConnect) && !FillAcceptQueue(m_TcpListenFd, m_nRouterPort, error))
        return false;
    if (m_Config.faults.Has(Fault::TelnetNoConnect) && !FillAcceptQueue(m_TelnetListenFd, m_nTelnetPort, error))
        return false;
    m_pContext->Transcript().Event("sim", 0, "listening",
                                   {{"address", m_Config.address},
                                    {"router_port", m_nRouterPort},
                                    {"telnet_port", m_nTelnetPort},
                                    {"family", std::string(1, m_Config.family)},
                                    {"module", CWirelessModule::ModeName(m_pContext->Module().GetMode())}});
    return true;
}

bool CRouterSim::BindTcp(uint16_t port, CUniqueFd& fd, uint16_t& bound, std::string& error)
{
    fd.Reset(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        error = Errno("socket");
        return false;
    }
    const int one = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = MakeAddress(m_Config.address, port);
    if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = Errno(("bind TCP " + m_Config.address + ":" + std::to_string(port)).c_str());
        return false;
    }
    if (listen(fd.Get(), 16) != 0) {
        error = Errno("listen");
        return false;
    }
    socklen_t len = sizeof sa;
    getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&sa), &len);
    bound = ntohs(sa.sin_port);
    return true;
}

bool CRouterSim::FillAcceptQueue(const CUniqueFd& listener, uint16_t port, std::string& error)
{
    // A backlog of 0 leaves room for one connection waiting to be accepted.
    if (listen(listener.Get(), 0) != 0) {
        error = Errno("listen");
        return false;
    }
    CUniqueFd filler(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in sa = MakeAddress(m_Config.address == "0.0.0.0" ? "127.0.0.1" : m_Config.address, port);
    if (!filler.Valid() || connect(filler.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        error = Errno("connect to fill the accept queue");
        return false;
    }
    m_QueueFillers.push_back(std::move(filler));
    return true;
}

bool CRouterSim::BindUdp(uint16_t port, std::string& error)
{
    m_UdpFd.Reset(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_UdpFd.Valid()) {
        error = Errno("socket");
        return false;
    }
    const int one = 1;
    setsockopt(m_UdpFd.Get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    sockaddr_in sa = MakeAddress(m_Config.address, port);
    if (bind(m_UdpFd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = Errno(("bind UDP " + m_Config.address + ":" + std::to_string(port)).c_str());
        return false;
    }
    return true;
}

void CRouterSim::BindBroadcastListeners(uint16_t port)
{
    // A socket bound to a unicast address never sees broadcasts on Linux. On loopback there
    // are none to see; on a real interface, listen on its broadcast address and on the
    // limited broadcast address too.
    std::array<uint8_t, 4> ownBytes{};
    if (!ParseIpv4(m_Config.address, ownBytes) || IsLoopbackIpv4(ownBytes))
        return;
    const in_addr own{htonl(ReadBe32(ownBytes.data()))};
    std::vector<in_addr> targets;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
            if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_INET)
                continue;
            if ((ifa->ifa_flags & IFF_BROADCAST) == 0 || ifa->ifa_broadaddr == nullptr)
                continue;
            sockaddr_in local{};
            std::memcpy(&local, ifa->ifa_addr, sizeof local);
            if (local.sin_addr.s_addr != own.s_addr)
                continue;
            sockaddr_in broadcast{};
            std::memcpy(&broadcast, ifa->ifa_broadaddr, sizeof broadcast);
            targets.push_back(broadcast.sin_addr);
        }
        freeifaddrs(list);
    }
    targets.push_back(in_addr{htonl(INADDR_BROADCAST)});
    for (const in_addr& target : targets) {
        CUniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.Valid())
            continue;
        const int one = 1;
        setsockopt(fd.Get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr = target;
        if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
            continue; // not fatal: discovery sent to the router's own address still works
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &target, text, sizeof text);
        m_pContext->Transcript().Event("sim", 0, "listening for broadcasts", {{"address", std::string(text)}});
        m_BroadcastFds.push_back(std::move(fd));
    }
}

std::string CRouterSim::ReadyLine() const
{
    return "kivrouter-sim ready address=" + m_Config.address + " router-port=" + std::to_string(m_nRouterPort) +
           " telnet-port=" + std::to_string(m_nTelnetPort);
}

uint32_t CRouterSim::ViolationCount() const { return m_pContext->Transcript().ViolationCount(); }

bool CRouterSim::Start()
{
    if (m_Thread.joinable())
        return false;
    m_StopEvent.Reset();
    m_Thread = std::thread([this] { Run(); });
    return true;
}

void CRouterSim::Stop()
{
    m_StopEvent.Set();
    if (m_Thread.joinable())
        m_Thread.join();
}

size_t CRouterSim::CountConnections(bool telnet) const
{
    return static_cast<size_t>(std::count_if(m_Connections.begin(), m_Connections.end(),
                                             [telnet](const auto& c) { return c->telnet == telnet; }));
}

int CRouterSim::PollTimeout() const
{
    const uint32_t now = GetTickCount();
    int64_t wait = MAX_POLL_MS;
    const int64_t module = m_pContext->Module().MsUntilNextEvent(now);
    if (module >= 0)
        wait = std::min(wait, module);
    if (!m_DelayedDatagrams.empty()) {
        const int32_t left = static_cast<int32_t>(m_DelayedDatagrams.front().due - now);
        wait = std::min<int64_t>(wait, left < 0 ? 0 : left);
    }
    for (const auto& conn : m_Connections) {
        const int64_t next = conn->session->MsUntilNextEvent(now);
        if (next >= 0)
            wait = std::min(wait, next);
    }
    if (m_bFlooding)
        wait = std::min<int64_t>(wait, std::max<int32_t>(0, static_cast<int32_t>(m_nNextFlood - now)));
    return ScaledPollTimeout(static_cast<uint32_t>(wait));
}

void CRouterSim::Run(int extraStopFd)
{
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({m_StopEvent.Handle(), POLLIN, 0});
        fds.push_back({extraStopFd, POLLIN, 0}); // a negative fd is skipped by poll()
        fds.push_back({m_UdpFd.Get(), POLLIN, 0});
        // A listener whose accept queue is kept full is never served (a negative fd is skipped).
        const bool routerNoConnect = m_Config.faults.Has(Fault::RouterNoConnect);
        const bool telnetNoConnect = m_Config.faults.Has(Fault::TelnetNoConnect);
        fds.push_back({routerNoConnect ? -1 : m_TcpListenFd.Get(), POLLIN, 0});
        fds.push_back({telnetNoConnect ? -1 : m_TelnetListenFd.Get(), POLLIN, 0});
        for (const CUniqueFd& fd : m_BroadcastFds)
            fds.push_back({fd.Get(), POLLIN, 0});
        const size_t kFixed = 5 + m_BroadcastFds.size();
        for (const auto& conn : m_Connections) {
            short events = conn->peerClosed ? 0 : POLLIN;
            if (!conn->session->Output().empty())
                events |= POLLOUT;
            fds.push_back({conn->fd.Get(), events, 0});
        }
        const int ready = poll(fds.data(), fds.size(), PollTimeout());
        if (ready < 0 && errno != EINTR)
            break;
        if ((fds[0].revents | fds[1].revents) & (POLLIN | POLLHUP | POLLERR))
            break;
        if (fds[2].revents & POLLIN)
            ReadUdp(m_UdpFd.Get());
        for (size_t b = 0; b < m_BroadcastFds.size(); ++b)
            if (fds[5 + b].revents & POLLIN)
                ReadUdp(m_BroadcastFds[b].Get());
        if (fds[3].revents & POLLIN)
            AcceptAll(m_TcpListenFd.Get(), false);
        if (fds[4].revents & POLLIN)
            AcceptAll(m_TelnetListenFd.Get(), true);
        // Connections accepted just now have no pollfd entry yet: only the first ones do.
        const size_t polled = fds.size() - kFixed;
        for (size_t i = 0; i < polled && i < m_Connections.size(); ++i)
            if (fds[kFixed + i].revents != 0)
                ServeConnection(*m_Connections[i], fds[kFixed + i].revents);
        TickAll();
    }
    m_Connections.clear();
    m_pContext->Transcript().Event("sim", 0, "stopped", {{"violations", ViolationCount()}});
}

void CRouterSim::ReadUdp(int fd)
{
    for (int i = 0; i < MAX_DATAGRAMS_PER_TURN; ++i) {
        uint8_t buffer[CUdpService::MAX_DATAGRAM + 1];
        sockaddr_in from{};
        iovec iov{buffer, sizeof buffer};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd, &msg, MSG_TRUNC);
        if (n < 0)
            return;
        std::array<uint8_t, 4> arrivedOn{};
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                const uint32_t host = ntohl(info.ipi_spec_dst.s_addr);
                WriteBe32(arrivedOn.data(), host);
            }
        }
        const bool truncated = static_cast<size_t>(n) > CUdpService::MAX_DATAGRAM;
        const size_t length = truncated ? CUdpService::MAX_DATAGRAM : static_cast<size_t>(n);
        std::vector<std::vector<uint8_t>> replies;
        const bool discovery = m_pUdp->HandleDatagram(buffer, length, truncated, arrivedOn, replies);
        if (discovery && m_Config.faults.Has(Fault::DiscoveryFlood)) {
            m_bFlooding = true;
            m_FloodTo = from;
            m_FloodArrivedOn = arrivedOn;
            m_nNextFlood = GetTickCount() + m_Config.faults.Number(Fault::DiscoveryFlood);
        }
        for (auto& reply : replies)
            SendDatagram(std::move(reply), from);
    }
}

void CRouterSim::SendDatagram(std::vector<uint8_t> bytes, const sockaddr_in& to)
{
    const uint32_t delay = m_pContext->DrawLatency();
    if (delay == 0 && m_DelayedDatagrams.empty()) {
        sendto(m_UdpFd.Get(), bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
        return;
    }
    // Replies keep their order: none goes out before one that came earlier.
    uint32_t due = GetTickCount() + delay;
    if (!m_DelayedDatagrams.empty() && static_cast<int32_t>(m_DelayedDatagrams.back().due - due) > 0)
        due = m_DelayedDatagrams.back().due;
    m_DelayedDatagrams.push_back(DelayedDatagram{due, std::move(bytes), to});
}

void CRouterSim::SendDueDatagrams(uint32_t now)
{
    size_t sent = 0;
    for (; sent < m_DelayedDatagrams.size(); ++sent) {
        const DelayedDatagram& d = m_DelayedDatagrams[sent];
        if (static_cast<int32_t>(now - d.due) < 0)
            break;
        sendto(m_UdpFd.Get(), d.bytes.data(), d.bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&d.to),
               sizeof d.to);
    }
    m_DelayedDatagrams.erase(m_DelayedDatagrams.begin(),
                             m_DelayedDatagrams.begin() + static_cast<std::ptrdiff_t>(sent));
}

void CRouterSim::AcceptAll(int listenFd, bool telnet)
{
    for (;;) {
        CUniqueFd fd(accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.Valid())
            return;
        CTranscript& transcript = m_pContext->Transcript();
        const uint32_t id = m_nNextConn++;
        const char* proto = telnet ? "telnet" : "tcp";
        if (CountConnections(telnet) >= m_Config.maxConnections) {
            transcript.Event(proto, id, "connection refused: limit reached", {{"limit", m_Config.maxConnections}});
            continue; // closed by CUniqueFd
        }
        const int one = 1;
        setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto conn = std::make_unique<Connection>();
        conn->fd = std::move(fd);
        conn->id = id;
        conn->telnet = telnet;
        conn->lastInput = GetTickCount();
        if (telnet)
            conn->session = std::make_unique<CTelnetSession>(*m_pContext, id);
        else
            conn->session = std::make_unique<CTcpSession>(*m_pContext, id);
        transcript.Event(proto, id, "connected");
        conn->session->OnConnect();
        Flush(*conn);
        m_Connections.push_back(std::move(conn));
    }
}

void CRouterSim::ServeConnection(Connection& conn, short revents)
{
    if (revents & POLLIN) {
        // What has arrived is read in one turn (up to a limit, so that one busy connection
        // cannot starve the others): a poll per receive would slow a bulk transfer down.
        uint8_t buffer[RECEIVE_CHUNK];
        for (size_t turn = 0; turn < RECEIVES_PER_TURN && !conn.peerClosed; ++turn) {
            const ssize_t n = recv(conn.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                conn.lastInput = GetTickCount();
                conn.session->OnBytes(buffer, static_cast<size_t>(n));
                if (static_cast<size_t>(n) < sizeof buffer)
                    break; // nothing more waiting
            } else {
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                    conn.peerClosed = true;
                break;
            }
        }
    } else if (revents & (POLLHUP | POLLERR)) {
        conn.peerClosed = true;
    }
    if (revents & POLLOUT)
        Flush(conn);
}

void CRouterSim::Flush(Connection& conn)
{
    std::vector<uint8_t>& out = conn.session->Output();
    size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = send(conn.fd.Get(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(sent));
}

void CRouterSim::DropConnection(size_t index, bool reset)
{
    Connection& conn = *m_Connections[index];
    if (reset) {
        linger hard{1, 0};
        setsockopt(conn.fd.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    m_pContext->Transcript().Event(conn.telnet ? "telnet" : "tcp", conn.id, reset ? "connection reset" : "closed");
    m_Connections.erase(m_Connections.begin() + static_cast<std::ptrdiff_t>(index));
}

void CRouterSim::TickFlood(uint32_t now)
{
    if (!m_bFlooding || static_cast<int32_t>(now - m_nNextFlood) < 0)
        return;
    const std::vector<uint8_t> datagram = m_pUdp->FloodDatagram(m_FloodArrivedOn);
    sendto(m_UdpFd.Get(), datagram.data(), datagram.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&m_FloodTo),
           sizeof m_FloodTo);
    m_nNextFlood = now + m_Config.faults.Number(Fault::DiscoveryFlood);
}

void CRouterSim::TickAll()
{
    const uint32_t now = GetTickCount();
    m_pContext->Module().Tick(now);
    SendDueDatagrams(now);
    TickFlood(now);
    for (size_t i = m_Connections.size(); i-- > 0;) {
        Connection& conn = *m_Connections[i];
        ISession& session = *conn.session;
        session.Tick(now);
        if (session.WantsReset()) {
            DropConnection(i, true);
            continue;
        }
        Flush(conn);
        const char* proto = conn.telnet ? "telnet" : "tcp";
        if (session.Output().size() > MAX_PENDING_OUTPUT) {
            m_pContext->Transcript().Violation(proto, conn.id, "peer does not read: output limit reached", nullptr, 0);
            DropConnection(i, true);
        } else if (conn.peerClosed || (session.WantsClose() && session.Output().empty())) {
            DropConnection(i, false);
        } else if (now - conn.lastInput > m_Config.idleTimeoutMs && session.MsUntilNextEvent(now) < 0) {
            m_pContext->Transcript().Event(proto, conn.id, "idle connection closed");
            DropConnection(i, true);
        }
    }
}
