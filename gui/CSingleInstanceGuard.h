#pragma once

#include <QObject>
#include <QString>

#include "platform/CUniqueFd.h"

class QLocalServer;

// One copy of the program at a time. The first copy holds an exclusive lock on a file named
// after the program's mutex in the user's runtime directory and listens on a local socket
// named "KIV_UPGRADE_DLG"; a later copy finds the lock taken, asks the first copy through
// the socket to restore its window (which it does only when minimised), and ends. Without a
// usable runtime directory (XDG_RUNTIME_DIR unset, or not the user's own, as after "su")
// both live in the user's temporary directory with the user id appended to their names.
class CSingleInstanceGuard : public QObject {
    Q_OBJECT
public:
    static constexpr const char* MUTEX_NAME = "87F8A3C7-65EF-4cf8-B947-0EC89C2774B3";
    static constexpr const char* SERVER_NAME = "KIV_UPGRADE_DLG";

    enum class Result { Acquired, AlreadyRunning, Failed };

    // `directory` empty: XDG_RUNTIME_DIR when it is the user's own, else the temporary
    // directory (names suffixed "-<uid>").
    explicit CSingleInstanceGuard(const QString& directory = QString(), QObject* parent = nullptr);
    ~CSingleInstanceGuard() override;

    // Takes the lock and starts listening. On Failed, ErrorCode() holds the errno value.
    Result Acquire();
    // Later copy: asks the running copy to restore its window. True when it was reached.
    bool NotifyRunningInstance(int timeoutMs = 1000) const;
    // Releases the lock and stops listening.
    void Release();

    int ErrorCode() const { return m_nError; }
    QString LockPath() const { return m_strLockPath; }
    QString ServerPath() const { return m_strServerPath; }

signals:
    // Another copy asked for the window to be restored.
    void RestoreRequested();

private:
    void OnNewConnection();

    QString m_strLockPath;
    QString m_strServerPath;
    CUniqueFd m_LockFd;
    QLocalServer* m_pServer = nullptr;
    int m_nError = 0;
};
