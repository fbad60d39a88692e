#pragma once

#include <QDBusUnixFileDescriptor>

#include "app/ISleepInhibitor.h"

// The login manager's inhibitor lock, asked for over the system bus with QtDBus:
// org.freedesktop.login1.Manager.Inhibit("shutdown:sleep:idle", "kivupgrade",
// "Writing router firmware", "block"). The lock lasts as long as the descriptor the call
// returns stays open; Release closes it. Each Acquire opens a connection of its own to the
// bus DBUS_SYSTEM_BUS_ADDRESS names (else the system's) and closes it once the answer is in,
// so it may be called from the upgrade worker.
class CQtLoginInhibitor : public ISleepInhibitor {
public:
    // How long the login manager may take to answer, in real milliseconds (it has nothing
    // to do with the router, so the time scale does not apply).
    static constexpr int CALL_TIMEOUT_MS = 5000;

    bool Acquire(std::string& why) override;
    void Release() override;

private:
    QDBusUnixFileDescriptor m_Lock;
};
