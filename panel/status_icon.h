#pragma once

#include <QPixmap>
#include <QSize>

class QLabel;

// A status icon file loaded and scaled into size, sharp on a scaled screen (a null pixmap
// when the file is missing).
QPixmap LoadStatusIcon(const char* file, QSize size);
// Sets the pixmap on label and fixes the label to the pixmap's size in points.
void SetIconFixed(QLabel* label, const QPixmap& pixmap);
