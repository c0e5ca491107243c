#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// "image/min.png" -> "image/min@2x.png": the file drawn with twice the pixels.
QString DoubleSizeFileName(const QString& file);
// The image file shown at `size` device-independent pixels on a screen of this pixel ratio
// (Qt's high-DPI scale): at 1 the file scaled to size, as before any scaling; above 1 drawn
// from its @2x file where there is one, scaled to size × ratio pixels and marked with the
// ratio, so that Qt draws it without enlarging it. Null when the file is missing.
QPixmap SharpPixmap(const QString& file, QSize size, qreal ratio);
// The same, for the application's screens (the highest pixel ratio among them).
QPixmap SharpPixmap(const QString& file, QSize size);
// A pixmap's size in device-independent pixels (its pixels over its ratio).
QSize PointSize(const QPixmap& pixmap);
