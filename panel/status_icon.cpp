#include "status_icon.h"

#include <QLabel>

QPixmap LoadStatusIcon(const char* file, QSize size) {
    QPixmap pixmap(file);
    if (pixmap.isNull())
        return pixmap;
    return pixmap.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void SetIconFixed(QLabel* label, const QPixmap& pixmap) {
    label->setPixmap(pixmap);
    label->setFixedSize(pixmap.width(), pixmap.height());
}
