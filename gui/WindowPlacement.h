#pragma once

#include <QByteArray>
#include <QRect>
#include <cstdint>

class QWidget;

// The 44-byte window-placement record kept in the settings store, all fields 32-bit
// little-endian: length, flags, show command (1 normal, 3 maximised), minimised position,
// maximised position, normal rectangle (left, top, right, bottom).
struct WindowPlacementRecord {
    static constexpr int RECORD_SIZE = 44;
    static constexpr uint32_t SW_SHOWNORMAL = 1;
    static constexpr uint32_t SW_SHOWMAXIMIZED = 3;

    uint32_t length = RECORD_SIZE;
    uint32_t flags = 0;
    uint32_t showCmd = SW_SHOWNORMAL;
    int32_t minX = -1;
    int32_t minY = -1;
    int32_t maxX = -1;
    int32_t maxY = -1;
    QRect normal; // left, top, right + 1, bottom + 1 as stored

    QByteArray Encode() const;
    // False when `bytes` is not exactly 44 bytes long.
    static bool Decode(const QByteArray& bytes, WindowPlacementRecord& record);
};

// Saves or restores `window`'s placement under organisation "Varoni", the application
// name, group "Settings", value "Window Position". Saving stores a minimised window as
// normal. Restoring ignores a value of any size but 44 bytes, or with an empty normal
// rectangle. False when anything fails.
bool SaveRestoreWindowPlacement(QWidget* window, bool save);
