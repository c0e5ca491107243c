// Repair of the four IE settings, on the user-interface thread.
#include "centerwidget.h"

#include "engine/ie_repair.h"
#include "panel_styles.h"
#include "status_icon.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <spdlog/spdlog.h>

void centerWidget::RepaireIECfg() {
    const IeRepair done = RepairIeSettings(lastReport.ieHosts, false, logger);
    if (done.edgeMissing) {
        ieStatusLabel->setStyleSheet(panelstyle::kFault);
        ieStatusLabel->setText(QString::fromStdString(done.status));
        NoteInstallText(kIERow, done.record);
        UpdateAccessibleTexts();
        return;
    }
    if (done.repaired) {
        ShowResult(ieStatusLabel, ieIconLabel, QString::fromStdString(done.status), true, true);
        ieButton->hide();
    } else {
        ieStatusLabel->setStyleSheet(panelstyle::kFault);
        ieStatusLabel->setText(QString::fromStdString(done.status));
    }
    NoteInstallText(kIERow, done.record);
    UpdateAccessibleTexts();
    // Edge reads its policies when it starts.
    if (done.policiesChanged)
        ShowIEModeNotice(kIEModeOpened);
}

void centerWidget::ShowIEModeNotice(const QString& text) {
    // Not modal to the program: the one-click repair goes on while the box is open.
    auto* box =
        new QMessageBox(QMessageBox::Information, "IE浏览器配置", text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
