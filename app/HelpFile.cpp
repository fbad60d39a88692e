#include "app/HelpFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "platform/UserFiles.h"
#include "res/Resources.h"

namespace {
constexpr uint32_t IDR_HELP_CHM = 152;
constexpr uint32_t IDS_NO_HELP = 136;
constexpr size_t kMaxPath = 260;

bool ExistsWithoutFollowing(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}
} // namespace

std::string HelpFile::Prepare(const std::string& directory, const uint8_t* data, size_t size)
{
    if (directory.empty())
        return {};
    const std::string path = directory + kFileName;
    if (path.size() > kMaxPath)
        return {};
    if (ExistsWithoutFollowing(path)) {
        // Reused as it is, but only a regular file of our own reached without a link.
        UniqueFd fd = OpenUserFile(path, O_RDONLY, false);
        return fd.Valid() ? path : std::string();
    }
    if (!data || size == 0)
        return {};
    UniqueFd fd = OpenUserFile(path, O_WRONLY | O_TRUNC, true);
    if (!fd.Valid())
        return {};
    if (WriteAll(fd.Get(), data, size) != size) {
        fd.Reset();
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

std::string HelpFile::PrepareEmbedded()
{
    const auto help = LoadResourceBytes(IDR_HELP_CHM, "CHM");
    return Prepare(GetTempDirectory(), help ? help->data : nullptr, help ? help->size : 0);
}

void HelpFile::Open(QWidget* owner)
{
    const std::string path = PrepareEmbedded();
    if (!path.empty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
        return;
    }
    QMessageBox::warning(owner, QStringLiteral("Warning"),
                         QString::fromStdString(LoadStringResource(IDS_NO_HELP)));
}
