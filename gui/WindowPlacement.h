#pragma once

#include <QByteArray>
#include <QRect>

#include "app/WindowPlacementRecord.h"

class QWidget;

// The placement record (app/WindowPlacementRecord.h) in Qt's terms.
QRect NormalRect(const WindowPlacementRecord& record);
void SetNormalRect(WindowPlacementRecord& record, const QRect& rect);
QByteArray EncodePlacement(const WindowPlacementRecord& record);
// False when `bytes` is not exactly 44 bytes long.
bool DecodePlacement(const QByteArray& bytes, WindowPlacementRecord& record);

// Saves or restores `window`'s placement under organisation "Varoni", the application
// name, group "Settings", value "Window Position". Saving stores a minimised window as
// normal. Restoring ignores a value of any size but 44 bytes, or with an empty normal
// rectangle. False when anything fails.
bool SaveRestoreWindowPlacement(QWidget* window, bool save);
