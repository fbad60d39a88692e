#include "gui/WindowPlacement.h"

#include <QCoreApplication>
#include <QSettings>
#include <QWidget>

#include <algorithm>

#include "platform/ByteOrder.h"

namespace {
const char ORGANISATION[] = "Varoni";
const char SECTION[] = "Settings";
const char VALUE_NAME[] = "Window Position";

void PutU32(QByteArray& out, uint32_t v)
{
    uint8_t bytes[4];
    WriteLe32(bytes, v);
    out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

uint32_t GetU32(const QByteArray& in, int at)
{
    return ReadLe32(reinterpret_cast<const uint8_t*>(in.constData()) + at);
}

int32_t GetI32(const QByteArray& in, int at) { return static_cast<int32_t>(GetU32(in, at)); }
} // namespace

QByteArray WindowPlacementRecord::Encode() const
{
    QByteArray out;
    PutU32(out, length);
    PutU32(out, flags);
    PutU32(out, showCmd);
    for (int32_t v : {minX, minY, maxX, maxY})
        PutU32(out, static_cast<uint32_t>(v));
    // Stored rectangles are exclusive at right and bottom.
    for (int v : {normal.left(), normal.top(), normal.left() + normal.width(), normal.top() + normal.height()})
        PutU32(out, static_cast<uint32_t>(v));
    return out;
}

bool WindowPlacementRecord::Decode(const QByteArray& bytes, WindowPlacementRecord& record)
{
    if (bytes.size() != RECORD_SIZE)
        return false;
    record.length = GetU32(bytes, 0);
    record.flags = GetU32(bytes, 4);
    record.showCmd = GetU32(bytes, 8);
    record.minX = GetI32(bytes, 12);
    record.minY = GetI32(bytes, 16);
    record.maxX = GetI32(bytes, 20);
    record.maxY = GetI32(bytes, 24);
    const int64_t left = GetI32(bytes, 28);
    const int64_t top = GetI32(bytes, 32);
    const int64_t right = GetI32(bytes, 36);
    const int64_t bottom = GetI32(bytes, 40);
    record.normal = QRect(static_cast<int>(left), static_cast<int>(top),
                          static_cast<int>(std::clamp<int64_t>(right - left, -1, 1 << 20)),
                          static_cast<int>(std::clamp<int64_t>(bottom - top, -1, 1 << 20)));
    return true;
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
        record.showCmd = window->isMaximized() ? WindowPlacementRecord::SW_SHOWMAXIMIZED
                                               : WindowPlacementRecord::SW_SHOWNORMAL;
        const bool normalState = !window->isMaximized() && !window->isMinimized() && !window->isFullScreen();
        record.normal = normalState ? window->geometry() : window->normalGeometry();
        if (!record.normal.isValid())
            record.normal = window->geometry();
        settings.setValue(QString::fromLatin1(VALUE_NAME), record.Encode());
        settings.sync();
        result = settings.status() == QSettings::NoError;
    } else {
        const QVariant value = settings.value(QString::fromLatin1(VALUE_NAME));
        WindowPlacementRecord record;
        if (value.isValid() && WindowPlacementRecord::Decode(value.toByteArray(), record) &&
            record.normal.width() > 0 && record.normal.height() > 0) {
            window->setGeometry(record.normal);
            if (record.showCmd == WindowPlacementRecord::SW_SHOWMAXIMIZED)
                window->setWindowState(window->windowState() | Qt::WindowMaximized);
            else
                window->setWindowState(window->windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
            result = true;
        }
    }
    settings.endGroup();
    return result;
}
