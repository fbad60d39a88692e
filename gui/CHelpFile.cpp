#include "gui/CHelpFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDesktopServices>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "gui/CHelpWindow.h"
#include "platform/UserFiles.h"
#include "res/Resources.h"

namespace {
constexpr uint32_t IDR_HELP_CHM = 152;
constexpr uint32_t IDS_NO_HELP = 136;
constexpr size_t MAX_PATH = 260;
constexpr int QUERY_TIMEOUT_MS = 3000;

// Standard output of `program arguments`, or empty when it is not installed, fails or
// takes too long.
QString QueryOutput(const QString& program, const QStringList& arguments)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return {};
    QProcess process;
    process.start(path, arguments, QIODevice::ReadOnly);
    if (!process.waitForFinished(QUERY_TIMEOUT_MS)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

bool ExistsWithoutFollowing(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}
} // namespace

std::string CHelpFile::Prepare(const std::string& directory, const uint8_t* data, size_t size)
{
    if (directory.empty())
        return {};
    const std::string path = directory + FILE_NAME;
    if (path.size() > MAX_PATH)
        return {};
    if (ExistsWithoutFollowing(path)) {
        // Reused as it is, but only a regular file of our own reached without a link.
        CUniqueFd fd = OpenUserFile(path, O_RDONLY, false);
        return fd.Valid() ? path : std::string();
    }
    if (!data || size == 0)
        return {};
    CUniqueFd fd = OpenUserFile(path, O_WRONLY | O_TRUNC, true);
    if (!fd.Valid())
        return {};
    if (WriteAll(fd.Get(), data, size) != size) {
        fd.Reset();
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

std::string CHelpFile::PrepareEmbedded()
{
    const auto help = LoadResourceBytes(IDR_HELP_CHM, "CHM");
    return Prepare(GetTempDirectory(), help ? help->data : nullptr, help ? help->size : 0);
}

bool CHelpFile::DesktopHasHandler(const std::string& path)
{
    const QString type = QMimeDatabase().mimeTypeForFile(QString::fromStdString(path)).name();
    // xdg-utils answers with the desktop file's name, gio with a sentence naming it.
    if (!QueryOutput(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type}).isEmpty())
        return true;
    const QString gio = QueryOutput(QStringLiteral("gio"), {QStringLiteral("mime"), type});
    return gio.startsWith(QStringLiteral("Default application"));
}

CHelpFile::Shown CHelpFile::Open(QWidget* owner)
{
    const std::string path = PrepareEmbedded();
    if (!path.empty()) {
        if (DesktopHasHandler(path) && QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
            return Shown::Desktop;
    } else {
        QMessageBox::warning(owner, QStringLiteral("Warning"), QString::fromStdString(LoadStringResource(IDS_NO_HELP)));
    }
    CHelpWindow::ShowFor(owner);
    return Shown::HelpWindow;
}
