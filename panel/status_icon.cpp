#include "status_icon.h"

#include "sharp_pixmap.h"

#include <QLabel>

QPixmap LoadStatusIcon(const char* file, QSize size) {
    return SharpPixmap(QString::fromUtf8(file), size);
}

void SetIconFixed(QLabel* label, const QPixmap& pixmap) {
    label->setPixmap(pixmap);
    label->setFixedSize(PointSize(pixmap));
}
