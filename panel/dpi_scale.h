#pragma once

#include <QSize>
#include <QString>

// The window's sizes are drawn for 96 DPI: fonts, borders and radii in the style sheets,
// fixed widget sizes and icons. Qt's high-DPI scaling (turned on in main) maps them to the
// screen, and the screen's logical DPI then stays 96. Where that scaling is not in effect
// (Qt's environment turned it off, a platform without it), the logical DPI is the screen's
// own: every size is multiplied by it here, so that fonts, buttons and icons keep their
// proportions and no text outgrows a fixed size.

// Before the QApplication is made: Qt maps the 96-DPI sizes to the screen's DPI (120, 144,
// 192, ...) by the exact factor (1.25 stays 1.25, not rounded to 1), and an icon with an
// @2x file is drawn from it.
void EnableHighDpiScaling();
// The primary screen's logical DPI over 96; 1 without a screen.
double UiScale();
// A 96-DPI length at this scale, rounded to whole pixels (never 0 for a non-zero length).
int Scaled(int px96, double scale);
int Scaled(int px96);
QSize Scaled(QSize size96, double scale);
QSize Scaled(QSize size96);
// The style sheet with every "<number>px" length multiplied by scale; unchanged at 1.
QString ScaledStyle(const QString& sheet, double scale);
QString ScaledStyle(const QString& sheet);
