#pragma once

#include <QString>

// What a screen reader says of a check row and of its button: the item and its state, as the
// row shows them (the status text, its colour, the button).

// How the row's result is shown: nothing yet, a text without colour (检测中..., 等待检测...),
// green, red.
enum class RowLook { Unchecked, Pending, Good, Fault };

struct RowShown {
    RowLook look = RowLook::Unchecked;
    QString statusText;
    bool buttonShown = false; // a row without a button: false
    bool buttonEnabled = false;
    QString buttonText;
};

// "未检测", "检测中", "正常", "异常", "异常，可修复", "异常，需下载安装", "异常，下载中", ...
QString RowStateText(const RowShown& row);
// "IE浏览器配置检测：异常，可修复"
QString RowAccessibleName(const QString& item, const RowShown& row);
// The button's name: what it does to which item ("修复：IE浏览器配置检测").
QString RowButtonAccessibleName(const QString& item, const QString& buttonText);
