#include "gui/WindowPlacement.h"

#include <QCoreApplication>
#include <QSettings>
#include <QWidget>

#include <algorithm>

namespace {
const char ORGANISATION[] = "Varoni";
const char SECTION[] = "Settings";
const char VALUE_NAME[] = "Window Position";
// Widths and heights kept within what QRect holds.
constexpr int64_t MAX_EXTENT = 1 << 20;
} // namespace

QRect NormalRect(const WindowPlacementRecord& record)
{
    const int64_t width = std::clamp<int64_t>(static_cast<int64_t>(record.right) - record.left, -1, MAX_EXTENT);
    const int64_t height = std::clamp<int64_t>(static_cast<int64_t>(record.bottom) - record.top, -1, MAX_EXTENT);
    return QRect(record.left, record.top, static_cast<int>(width), static_cast<int>(height));
}

void SetNormalRect(WindowPlacementRecord& record, const QRect& rect)
{
    // Stored rectangles are exclusive at right and bottom.
    record.left = rect.left();
    record.top = rect.top();
    record.right = rect.left() + rect.width();
    record.bottom = rect.top() + rect.height();
}

QByteArray EncodePlacement(const WindowPlacementRecord& record)
{
    const auto bytes = record.Encode();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

bool DecodePlacement(const QByteArray& bytes, WindowPlacementRecord& record)
{
    return WindowPlacementRecord::Decode(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                         static_cast<size_t>(bytes.size()), record);
}

bool SaveRestoreWindowPlacement(QWidget* window, bool save)
{
    if (!window)
        return false;
    QSettings settings(QString::fromLatin1(ORGANISATION), QCoreApplication::applicationName());
    settings.beginGroup(QString::fromLatin1(SECTION));
    bool result = false;
    if (save) {
        WindowPlacementRecord record;
        record.showCmd = window->isMaximized() ? WindowPlacementRecord::SHOW_MAXIMIZED
                                               : WindowPlacementRecord::SHOW_NORMAL;
        const bool normalState = !window->isMaximized() && !window->isMinimized() && !window->isFullScreen();
        QRect normal = normalState ? window->geometry() : window->normalGeometry();
        if (!normal.isValid())
            normal = window->geometry();
        SetNormalRect(record, normal);
        settings.setValue(QString::fromLatin1(VALUE_NAME), EncodePlacement(record));
        settings.sync();
        result = settings.status() == QSettings::NoError;
    } else {
        const QVariant value = settings.value(QString::fromLatin1(VALUE_NAME));
        WindowPlacementRecord record;
        if (value.isValid() && DecodePlacement(value.toByteArray(), record) && NormalRect(record).width() > 0 &&
            NormalRect(record).height() > 0) {
            window->setGeometry(NormalRect(record));
            if (record.showCmd == WindowPlacementRecord::SHOW_MAXIMIZED)
                window->setWindowState(window->windowState() | Qt::WindowMaximized);
            else
                window->setWindowState(window->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
            result = true;
        }
    }
    settings.endGroup();
    return result;
}
