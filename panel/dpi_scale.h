#pragma once

#include <QSize>
#include <QString>

// The window's sizes are drawn for 96 DPI: fonts, borders and radii in the style sheets,
// fixed widget sizes and icons. Qt's high-DPI scaling (turned on in main) maps them to the
// screen, and the screen's logical DPI then stays 96. Where that scaling is not in effect
// (Qt's environment turned it off, a platform without it), the logical DPI is the screen's
// own: every size is multiplied by it here, so that fonts, buttons and icons keep their
// proportions and no text outgrows a fixed size.

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
