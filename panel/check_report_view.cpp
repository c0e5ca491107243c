// The panel's side of the check report: a tooltip with the details on each row's result
// text, and a context menu to copy, upload or save the whole report.
#include "centerwidget.h"

#include "engine/report/report_json.h"
#include "engine/report/report_text.h"
#include "engine/row_texts.h"
#include "engine/upload/upload_thread.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QTextDocument>

namespace {
// Longer values are cut in the tooltip (never in the copied or saved report).
const std::size_t kTooltipValueChars = 120;
} // namespace

void centerWidget::CheckReportSlot(const CheckReport& report) {
    report.handoff.Received();
    // Install outcomes belong to the session, not to one check run.
    const std::vector<CheckRow> previous = lastReport.rows;
    lastReport = report;
    for (std::size_t i = 0; i < previous.size() && i < lastReport.rows.size(); ++i) {
        lastReport.rows[i].install = previous[i].install;
        lastReport.rows[i].installExitCode = previous[i].installExitCode;
    }
    UpdateRowTooltips();
}

void centerWidget::NoteInstall(QLabel* statusLabel, int res) {
    const QLabel* labels[] = {netStatusLabel, netFraStatusLabel, ieStatusLabel, toolStatusLabel,
                              caStatusLabel};
    for (int row = 0; row < kRowCount; ++row)
        if (labels[row] == statusLabel) {
            std::string outcome;
            outcome.swap(pendingOutcomes[row]);
            NoteInstallText(row, outcome.empty() ? InstallOutcomeText(row, res) : outcome);
        }
}

void centerWidget::InstallOutcomeSlot(int row, const QString& outcome) {
    if (row >= 0 && row < kRowCount)
        pendingOutcomes[row] = outcome.toStdString();
}

void centerWidget::NoteInstallText(int row, const std::string& outcome) {
    lastReport.rows[row].install = outcome;
    UpdateRowTooltips();
}

void centerWidget::UpdateRowTooltips() {
    QLabel* labels[] = {netStatusLabel, netFraStatusLabel, ieStatusLabel, toolStatusLabel,
                        caStatusLabel};
    for (int row = 0; row < kRowCount; ++row) {
        QStringList lines;
        for (const std::string& line : RowDetailLines(lastReport.rows[row], kTooltipValueChars))
            lines << QString::fromStdString(line);
        // As rich text, so that values that look like markup are shown as they are.
        labels[row]->setToolTip(lines.isEmpty() ? QString()
                                                : Qt::convertFromPlainText(lines.join('\n')));
    }
}

QString centerWidget::AskReportPath() {
    return QFileDialog::getSaveFileName(this, "保存检测报告", "检测报告.json",
                                        "JSON (*.json);;文本 (*.txt)");
}

bool centerWidget::SaveReport(const QString& path) const {
    const std::string body = path.endsWith(".json", Qt::CaseInsensitive)
                                 ? ReportJsonText(lastReport)
                                 : ReportText(lastReport);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(body.data(), static_cast<qint64>(body.size()));
    return file.commit();
}

void centerWidget::ShowReportMenu(const QPoint& pos) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction("复制检测报告", this, [this] {
        QApplication::clipboard()->setText(QString::fromStdString(ReportText(lastReport)));
    });
    if (CanUploadReport())
        menu->addAction("上传检测报告", this, &centerWidget::StartReportUpload)
            ->setEnabled(!uploadThread);
    menu->addAction("保存检测报告…", this, [this] {
        const QString path = AskReportPath();
        if (!path.isEmpty() && !SaveReport(path))
            QMessageBox::warning(this, "保存检测报告", "检测报告无法保存到 " + path);
    });
    menu->popup(mapToGlobal(pos));
}
