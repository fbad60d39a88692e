#include "gui/CStopSignalNotifier.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGINT})
        sigaddset(&set, sig);
    return set;
}

} // namespace

void CStopSignalNotifier::BlockStopSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

CStopSignalNotifier::CStopSignalNotifier(QObject* parent) : QObject(parent)
{
    const sigset_t set = StopSignals();
    m_nFd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_nFd < 0)
        return;
    m_pNotifier = new QSocketNotifier(m_nFd, QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CStopSignalNotifier::ReadSignals);
}

CStopSignalNotifier::~CStopSignalNotifier()
{
    delete m_pNotifier;
    if (m_nFd >= 0)
        ::close(m_nFd);
}

QString CStopSignalNotifier::SignalName(int signal)
{
    switch (signal) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    case SIGQUIT: return QStringLiteral("SIGQUIT");
    case SIGINT: return QStringLiteral("SIGINT");
    default: return QStringLiteral("signal %1").arg(signal);
    }
}

void CStopSignalNotifier::ReadSignals()
{
    signalfd_siginfo info{};
    while (::read(m_nFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        emit StopRequested(SignalName(static_cast<int>(info.ssi_signo)));
}
