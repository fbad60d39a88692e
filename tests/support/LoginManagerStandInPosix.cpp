#include "tests/support/LoginManagerStandIn.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <systemd/sd-bus.h>

#include "tests/support/Loopback.h"

namespace kivtest {

namespace {

sd_bus* Bus(void* bus) { return static_cast<sd_bus*>(bus); }

int OnMessage(sd_bus_message* message, void* self, sd_bus_error*)
{
    if (!sd_bus_message_is_method_call(message, "org.freedesktop.login1.Manager", "Inhibit"))
        return 0; // not ours: sd-bus answers that the method is unknown
    static_cast<LoginManagerStandIn*>(self)->AnswerInhibit(message);
    return 1;
}

} // namespace

LoginManagerStandIn::LoginManagerStandIn(std::function<std::string()> snapshot) : m_Snapshot(std::move(snapshot)) {}

LoginManagerStandIn::~LoginManagerStandIn()
{
    if (m_Thread.joinable()) {
        const uint64_t one = 1;
        (void)::write(m_nStopFd, &one, sizeof one);
        m_Thread.join();
    }
    for (const Watch& watch : m_Watches)
        ::close(watch.fd);
    if (m_pBus != nullptr)
        sd_bus_flush_close_unref(Bus(m_pBus));
    if (m_nStopFd >= 0)
        ::close(m_nStopFd);
    m_Daemon.Stop(SIGTERM);
}

::testing::AssertionResult LoginManagerStandIn::Start(const std::string& dir)
{
    const std::string daemon = FindProgram("dbus-daemon");
    if (daemon.empty())
        return ::testing::AssertionFailure() << "dbus-daemon is not installed (package dbus)";
    const std::string address = "unix:path=" + dir + "/login-bus";
    if (!m_Daemon.Start({daemon, "--session", "--nofork", "--nosyslog", "--address=" + address, "--print-address=1"}))
        return ::testing::AssertionFailure() << "dbus-daemon: " << m_Daemon.Error();
    const std::string line = m_Daemon.FirstLine(std::chrono::seconds(10));
    if (line.empty())
        return ::testing::AssertionFailure() << "dbus-daemon printed no address: " << m_Daemon.Err();
    m_strAddress = line;

    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    m_pBus = bus;
    if (r >= 0)
        r = sd_bus_set_address(bus, m_strAddress.c_str());
    if (r >= 0)
        r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0)
        r = sd_bus_start(bus);
    if (r >= 0)
        r = sd_bus_request_name(bus, "org.freedesktop.login1", 0);
    if (r >= 0)
        r = sd_bus_add_object(bus, nullptr, "/org/freedesktop/login1", OnMessage, this);
    if (r < 0)
        return ::testing::AssertionFailure() << "the stand-in could not join the bus: " << std::strerror(-r);
    m_nStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_Thread = std::thread(&LoginManagerStandIn::Serve, this);
    return ::testing::AssertionSuccess();
}

void LoginManagerStandIn::AnswerInhibit(void* raw)
{
    auto* message = static_cast<sd_bus_message*>(raw);
    Lock lock;
    const char* texts[4] = {};
    if (sd_bus_message_read(message, "ssss", &texts[0], &texts[1], &texts[2], &texts[3]) < 0) {
        sd_bus_reply_method_errorf(message, SD_BUS_ERROR_INVALID_ARGS, "Inhibit takes four texts");
        return;
    }
    for (const char* text : texts)
        lock.arguments.push_back(text);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        sd_bus_reply_method_errorf(message, SD_BUS_ERROR_FAILED, "no pipe");
        return;
    }
    lock.atTaken = m_Snapshot ? m_Snapshot() : std::string();
    size_t index = 0;
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        index = m_Locks.size();
        m_Locks.push_back(lock);
    }
    // The reply carries a copy of the write end: once it is sent, the caller's copies are
    // the only ones left.
    sd_bus_reply_method_return(message, "h", ends[1]);
    sd_bus_flush(Bus(m_pBus));
    ::close(ends[1]);
    m_Watches.push_back({index, ends[0]});
}

void LoginManagerStandIn::CheckReleases(const std::vector<int>& hungUp)
{
    for (int fd : hungUp) {
        for (auto it = m_Watches.begin(); it != m_Watches.end(); ++it) {
            if (it->fd != fd)
                continue;
            const std::string snapshot = m_Snapshot ? m_Snapshot() : std::string();
            {
                std::lock_guard<std::mutex> guard(m_Mutex);
                m_Locks[it->lock].atReleased = snapshot;
                m_Locks[it->lock].released = true;
            }
            m_Cond.notify_all();
            ::close(it->fd);
            m_Watches.erase(it);
            break;
        }
    }
}

void LoginManagerStandIn::Serve()
{
    sd_bus* bus = Bus(m_pBus);
    for (;;) {
        while (sd_bus_process(bus, nullptr) > 0) {
        }
        std::vector<pollfd> fds = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                                   {m_nStopFd, POLLIN, 0}};
        for (const Watch& watch : m_Watches)
            fds.push_back({watch.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), GUARD_MS) < 0 && errno != EINTR)
            return;
        if (fds[1].revents != 0)
            return;
        std::vector<int> hungUp;
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLHUP | POLLERR | POLLIN))
                hungUp.push_back(fds[i].fd);
        }
        CheckReleases(hungUp);
    }
}

std::vector<LoginManagerStandIn::Lock> LoginManagerStandIn::Locks() const
{
    std::lock_guard<std::mutex> guard(m_Mutex);
    return m_Locks;
}

bool LoginManagerStandIn::WaitReleased(size_t count, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(m_Mutex);
    return m_Cond.wait_for(guard, limit, [&] {
        size_t released = 0;
        for (const Lock& lock : m_Locks)
            released += lock.released ? 1 : 0;
        return released >= count;
    });
}

} // namespace kivtest
