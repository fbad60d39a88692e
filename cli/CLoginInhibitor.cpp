#include "cli/CLoginInhibitor.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <memory>

#include <systemd/sd-bus.h>

namespace {

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// A sentence for a failed sd-bus call: the bus's error message, else the system's text.
std::string Describe(const sd_bus_error& error, int r)
{
    if (error.message != nullptr)
        return error.message;
    return std::strerror(-r);
}

} // namespace

CLoginInhibitor::~CLoginInhibitor() { Release(); }

bool CLoginInhibitor::Acquire(std::string& why)
{
    Release();
    sd_bus* raw = nullptr;
    int r = sd_bus_open_system(&raw);
    Bus bus(raw);
    if (r < 0) {
        why = std::string("no login manager answered (the system bus: ") + std::strerror(-r) + ")";
        return false;
    }
    sd_bus_message* rawCall = nullptr;
    r = sd_bus_message_new_method_call(bus.get(), &rawCall, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    Message call(rawCall);
    if (r >= 0)
        r = sd_bus_message_append(call.get(), "ssss", WHAT, WHO, WHY, MODE);
    if (r < 0) {
        why = std::string("the inhibitor request could not be made: ") + std::strerror(-r);
        return false;
    }
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* rawReply = nullptr;
    r = sd_bus_call(bus.get(), call.get(), CALL_TIMEOUT_USEC, &error, &rawReply);
    Message reply(rawReply);
    if (r < 0) {
        why = "no login manager answered (" + Describe(error, r) + ")";
        sd_bus_error_free(&error);
        return false;
    }
    int fd = -1;
    r = sd_bus_message_read(reply.get(), "h", &fd);
    // The descriptor belongs to the reply: keep a copy of our own.
    const int kept = r >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
    if (kept < 0) {
        why = std::string("the login manager's answer held no lock: ") + std::strerror(r < 0 ? -r : errno);
        return false;
    }
    m_nFd = kept;
    return true;
}

void CLoginInhibitor::Release()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
    m_nFd = -1;
}
