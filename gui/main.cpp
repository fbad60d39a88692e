#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/WindowCommandLine.h"
#include "gui/CKivOneClickApp.h"
#include "gui/CStopSignalNotifier.h"

namespace {

// Qt's messages while the display is opened: kept, and printed once it has opened. When it
// cannot be opened, Qt gives up with a fatal message (and abort()); this says so in one line,
// with the first message Qt gave, and ends the program with status 1 instead.
QStringList g_StartMessages;

void StartMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        g_StartMessages.append(message);
        return;
    }
    const QString cause = g_StartMessages.isEmpty() ? message.section(QLatin1Char('\n'), 0, 0)
                                                    : g_StartMessages.first();
    std::fprintf(stderr, "kivupgrade: the window cannot be opened: %s\n", cause.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(1);
}

// True when there is a display to open: a platform chosen by QT_QPA_PLATFORM or -platform
// (offscreen, for one) is Qt's concern; otherwise DISPLAY or WAYLAND_DISPLAY must be set.
bool HasDisplay(const WindowOptions& options)
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return options.platformGiven;
}

} // namespace

int main(int argc, char** argv)
{
    // First of all, before any thread starts: stop signals are read on the window's thread.
    CStopSignalNotifier::BlockStopSignals();
    WindowOptions options;
    if (const int status = HandleWindowCommandLine(argc, argv, options); status >= 0)
        return status;
    if (!HasDisplay(options)) {
        std::fputs(
            "kivupgrade: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
            "run it on the desktop, or use kivupgrade-cli\n",
            stderr);
        return 1;
    }
    qInstallMessageHandler(StartMessageHandler);
    QApplication application(argc, argv);
    qInstallMessageHandler(nullptr);
    for (const QString& message : g_StartMessages)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    QApplication::setApplicationName(QStringLiteral("kivupgrade"));
    CKivOneClickApp app;
    app.SetOptions(options);
    return app.InitInstance();
}
