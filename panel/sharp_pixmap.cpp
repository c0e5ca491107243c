#include "sharp_pixmap.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <cmath>

QString DoubleSizeFileName(const QString& file) {
    const int dot = file.lastIndexOf('.');
    const int slash = file.lastIndexOf('/');
    if (dot <= slash + 1) // no extension, or a name that starts with its dot
        return file + QStringLiteral("@2x");
    return file.left(dot) + QStringLiteral("@2x") + file.mid(dot);
}

QPixmap SharpPixmap(const QString& file, QSize size, qreal ratio) {
    if (ratio <= 1.0) {
        const QPixmap image(file);
        if (image.isNull())
            return image;
        return image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    const QString doubled = DoubleSizeFileName(file);
    QPixmap image(QFileInfo::exists(doubled) ? doubled : file);
    if (image.isNull())
        return image;
    const QSize pixels(static_cast<int>(std::ceil(size.width() * ratio)),
                       static_cast<int>(std::ceil(size.height() * ratio)));
    image = image.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image.setDevicePixelRatio(ratio);
    return image;
}

QPixmap SharpPixmap(const QString& file, QSize size) {
    return SharpPixmap(file, size, qApp ? qApp->devicePixelRatio() : 1.0);
}

QSize PointSize(const QPixmap& pixmap) {
    const qreal ratio = pixmap.devicePixelRatio();
    if (ratio <= 1.0)
        return pixmap.size();
    return QSize(qRound(pixmap.width() / ratio), qRound(pixmap.height() / ratio));
}
