#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// The stop signals (SIGTERM, SIGHUP, SIGQUIT and SIGINT: log-out, a closed terminal, kill,
// Ctrl-C) as a Qt signal on the window's thread. They are blocked in every thread from the
// start of main() and read here from a signalfd, so that none ends the program half-way
// through a flash, and no worker's system call is interrupted by one: the controller's
// stop path decides what happens (CKivOneClickDlg::OnStopSignal).
class CStopSignalNotifier : public QObject {
    Q_OBJECT
public:
    // Blocks the stop signals in the calling thread. Call it first in main(), before any
    // thread starts: every thread started later inherits the mask.
    static void BlockStopSignals();

    explicit CStopSignalNotifier(QObject* parent = nullptr);
    ~CStopSignalNotifier() override;

    // False when the signalfd could not be made (the signals then stay pending, unread).
    bool IsValid() const { return m_nFd >= 0; }

    // "SIGTERM" for SIGTERM, and so on.
    static QString SignalName(int signal);

signals:
    // One stop signal arrived, named as SignalName gives it.
    void StopRequested(const QString& name);

private:
    void ReadSignals();

    int m_nFd = -1;
    QSocketNotifier* m_pNotifier = nullptr;
};
