#include "app/CSingleInstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <QLocalServer>
#include <QLocalSocket>

#include "platform/UserFiles.h"

namespace {
const QByteArray kRestoreRequest = "restore\n";

QString DefaultDirectory()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && ::access(runtime, W_OK | X_OK) == 0)
        return QString::fromLocal8Bit(runtime);
    std::string temp = GetTempDirectory();
    if (!temp.empty() && temp.back() == '/')
        temp.pop_back();
    return QString::fromStdString(temp);
}
} // namespace

CSingleInstanceGuard::CSingleInstanceGuard(const QString& directory, QObject* parent)
    : QObject(parent)
{
    QString dir = directory.isEmpty() ? DefaultDirectory() : directory;
    QString suffix;
    if (directory.isEmpty() && !std::getenv("XDG_RUNTIME_DIR")) {
        // The temporary directory is shared by all users: keep one name per user.
        suffix = QStringLiteral("-%1").arg(::getuid());
    }
    m_strLockPath = dir + QLatin1Char('/') + QLatin1String(kMutexName) + suffix;
    m_strServerPath = dir + QLatin1Char('/') + QLatin1String(kServerName) + suffix;
}

CSingleInstanceGuard::~CSingleInstanceGuard() { Release(); }

CSingleInstanceGuard::Result CSingleInstanceGuard::Acquire()
{
    UniqueFd fd = OpenUserFile(m_strLockPath.toStdString(), O_RDWR | O_CLOEXEC, true);
    if (!fd.Valid()) {
        m_nError = errno;
        return Result::Failed;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        m_nError = errno;
        return m_nError == EWOULDBLOCK ? Result::AlreadyRunning : Result::Failed;
    }
    m_LockFd = std::move(fd);
    // The lock is ours, so a socket left at the path belongs to a copy that has ended.
    QLocalServer::removeServer(m_strServerPath);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstanceGuard::OnNewConnection);
    // Without the socket the program still runs; a later copy then just ends.
    m_pServer->listen(m_strServerPath);
    return Result::Acquired;
}

bool CSingleInstanceGuard::NotifyRunningInstance(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_strServerPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kRestoreRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void CSingleInstanceGuard::Release()
{
    if (m_pServer) {
        m_pServer->close();
        delete m_pServer;
        m_pServer = nullptr;
    }
    if (m_LockFd.Valid()) {
        ::flock(m_LockFd.Get(), LOCK_UN);
        m_LockFd.Reset();
    }
}

void CSingleInstanceGuard::OnNewConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray request = socket->readAll();
            if (request.startsWith(kRestoreRequest.trimmed()))
                emit RestoreRequested();
            socket->disconnectFromServer();
        });
    }
}
