#pragma once

#include <string>

#include "app/ISleepInhibitor.h"

// The login manager's inhibitor lock, asked for over the system bus with sd-bus:
// org.freedesktop.login1.Manager.Inhibit("shutdown:sleep:idle", "kivupgrade",
// "Writing router firmware", "block"). The lock lasts as long as the file descriptor the
// call returns stays open; Release closes it. The bus is the one DBUS_SYSTEM_BUS_ADDRESS
// names, else the system's.
class CLoginInhibitor : public ISleepInhibitor {
public:
    // How long the login manager may take to answer (real time: it has nothing to do with
    // the router, so the time scale does not apply).
    static constexpr uint64_t CALL_TIMEOUT_USEC = 5'000'000;

    CLoginInhibitor() = default;
    ~CLoginInhibitor() override;
    CLoginInhibitor(const CLoginInhibitor&) = delete;
    CLoginInhibitor& operator=(const CLoginInhibitor&) = delete;

    bool Acquire(std::string& why) override;
    void Release() override;

private:
    int m_nFd = -1;
};
