#include "gui/CSingleInstanceGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <QLocalServer>
#include <QLocalSocket>

#include "platform/UserFiles.h"

namespace {
const QByteArray RESTORE_REQUEST = "restore\n";

// XDG_RUNTIME_DIR when it is usable: a real directory of the user's own that nobody else
// may enter (after "su" it still names the first user's directory).
bool IsPrivateRuntimeDirectory(const char* dir)
{
    if (!dir || !*dir)
        return false;
    struct stat st {};
    return ::lstat(dir, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
           ::access(dir, W_OK | X_OK) == 0;
}

// Where the lock and the socket live, and the suffix that keeps their names per user.
struct Place {
    QString directory;
    QString suffix;
};

Place DefaultPlace()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (IsPrivateRuntimeDirectory(runtime))
        return {QString::fromLocal8Bit(runtime), QString()};
    // The temporary directory may be shared by all users ($TMPDIR): one name per user.
    std::string temp = GetTempDirectory();
    if (!temp.empty() && temp.back() == '/')
        temp.pop_back();
    return {QString::fromStdString(temp), QStringLiteral("-%1").arg(::geteuid())};
}
} // namespace

CSingleInstanceGuard::CSingleInstanceGuard(const QString& directory, QObject* parent) : QObject(parent)
{
    const Place place = directory.isEmpty() ? DefaultPlace() : Place{directory, QString()};
    if (place.directory.isEmpty())
        return; // no directory to hold the lock: Acquire fails
    m_strLockPath = place.directory + QLatin1Char('/') + QLatin1String(MUTEX_NAME) + place.suffix;
    m_strServerPath = place.directory + QLatin1Char('/') + QLatin1String(SERVER_NAME) + place.suffix;
}

CSingleInstanceGuard::~CSingleInstanceGuard() { Release(); }

CSingleInstanceGuard::Result CSingleInstanceGuard::Acquire()
{
    if (m_strLockPath.isEmpty()) {
        m_nError = ENOENT;
        return Result::Failed;
    }
    CUniqueFd fd = OpenUserFile(m_strLockPath.toStdString(), O_RDWR | O_CLOEXEC, true);
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
    socket.write(RESTORE_REQUEST);
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
            if (request.startsWith(RESTORE_REQUEST.trimmed()))
                emit RestoreRequested();
            socket->disconnectFromServer();
        });
    }
}
