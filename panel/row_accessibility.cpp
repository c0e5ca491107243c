#include "row_accessibility.h"

namespace {

// "检测中..." -> "检测中"; "正在等待其他安装程序结束…" keeps its words without the dots.
QString WithoutEllipsis(QString text) {
    text = text.trimmed();
    while (text.endsWith('.') || text.endsWith(QChar(0x2026)))
        text.chop(1);
    return text;
}

QString FaultState(const RowShown& row) {
    const QString fault = QStringLiteral("异常");
    if (!row.buttonShown || row.buttonText.isEmpty())
        return fault;
    if (row.buttonText == QStringLiteral("修复"))
        return fault + QStringLiteral("，可修复");
    if (row.buttonText == QStringLiteral("下载安装"))
        return fault + QStringLiteral("，需下载安装");
    return fault + QStringLiteral("，") + row.buttonText;
}

} // namespace

QString RowStateText(const RowShown& row) {
    switch (row.look) {
    case RowLook::Unchecked:
        return QStringLiteral("未检测");
    case RowLook::Pending: {
        const QString text = WithoutEllipsis(row.statusText);
        return text.isEmpty() ? QStringLiteral("未检测") : text;
    }
    case RowLook::Good:
        return QStringLiteral("正常");
    case RowLook::Fault:
        return FaultState(row);
    }
    return QString();
}

QString RowAccessibleName(const QString& item, const RowShown& row) {
    return item + QStringLiteral("：") + RowStateText(row);
}

QString RowButtonAccessibleName(const QString& item, const QString& buttonText) {
    return buttonText + QStringLiteral("：") + item;
}
