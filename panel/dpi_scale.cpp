#include "dpi_scale.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <cmath>

void EnableHighDpiScaling() {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

double UiScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return 1.0;
    const double dpi = screen->logicalDotsPerInchY();
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

int Scaled(int px96, double scale) {
    if (px96 == 0 || scale == 1.0)
        return px96;
    const long rounded = std::lround(px96 * scale);
    if (rounded == 0)
        return px96 > 0 ? 1 : -1;
    return static_cast<int>(rounded);
}

int Scaled(int px96) {
    return Scaled(px96, UiScale());
}

QSize Scaled(QSize size96, double scale) {
    return QSize(Scaled(size96.width(), scale), Scaled(size96.height(), scale));
}

QSize Scaled(QSize size96) {
    return Scaled(size96, UiScale());
}

QString ScaledStyle(const QString& sheet, double scale) {
    if (scale == 1.0)
        return sheet;
    // A length: digits (with a fraction) right before "px", not part of a longer word or of
    // a colour such as #ff6304 (no letter or '#' run before the digits).
    static const QRegularExpression length(QStringLiteral("(?<![\\w#.])(\\d+(?:\\.\\d+)?)px\\b"));
    QString out;
    int last = 0;
    auto it = length.globalMatch(sheet);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        out += sheet.midRef(last, match.capturedStart() - last);
        const double value = match.captured(1).toDouble() * scale;
        const double whole = std::round(value);
        out += QString::number(whole == 0 && value > 0 ? 1.0 : whole) + QStringLiteral("px");
        last = match.capturedEnd();
    }
    out += sheet.midRef(last);
    return out;
}

QString ScaledStyle(const QString& sheet) {
    return ScaledStyle(sheet, UiScale());
}
