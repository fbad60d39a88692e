#include "gui/CQtLoginInhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

#include <atomic>

namespace {

// The system bus when the environment names none (D-Bus's well-known default address).
constexpr const char* DEFAULT_SYSTEM_BUS = "unix:path=/var/run/dbus/system_bus_socket";

std::atomic<int> g_Connections{0};

} // namespace

bool CQtLoginInhibitor::Acquire(std::string& why)
{
    Release();
    QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    if (address.isEmpty())
        address = QString::fromLatin1(DEFAULT_SYSTEM_BUS);
    const QString name = QStringLiteral("kivupgrade-inhibitor-%1").arg(++g_Connections);
    QDBusReply<QDBusUnixFileDescriptor> reply;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        if (!bus.isConnected()) {
            why = "no login manager answered (the system bus: " + bus.lastError().message().toStdString() + ")";
            QDBusConnection::disconnectFromBus(name);
            return false;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                           QStringLiteral("/org/freedesktop/login1"),
                                                           QStringLiteral("org.freedesktop.login1.Manager"),
                                                           QStringLiteral("Inhibit"));
        call << QString::fromLatin1(WHAT) << QString::fromLatin1(WHO) << QString::fromLatin1(WHY)
             << QString::fromLatin1(MODE);
        reply = bus.call(call, QDBus::Block, CALL_TIMEOUT_MS);
    }
    QDBusConnection::disconnectFromBus(name);
    if (!reply.isValid()) {
        why = "no login manager answered (" + reply.error().message().toStdString() + ")";
        return false;
    }
    if (!reply.value().isValid()) {
        why = "the login manager's answer held no lock";
        return false;
    }
    m_Lock = reply.value();
    return true;
}

void CQtLoginInhibitor::Release() { m_Lock = QDBusUnixFileDescriptor(); }
