// The panel's side of how installers ended: the row's look for an installer that asked for
// a restart, was cancelled or failed, the wait for another installation with its cancel
// button, and the one restart notice of a job.
#include "centerwidget.h"

#include "dpi_scale.h"
#include "engine/checkthread.h"
#include "engine/install_outcome.h"
#include "panel_styles.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {
const char kRestartNotice[] =
    "部分组件已安装，需重启电脑后生效。请保存好正在进行的工作，然后重启电脑。";
const char kCancelWait[] = "取消等待";
} // namespace

QLabel* centerWidget::RowStatusLabel(int row) const {
    switch (row) {
    case kDotNetRow:
        return netFraStatusLabel;
    case kToolRow:
        return toolStatusLabel;
    case kCaRow:
        return caStatusLabel;
    default:
        return nullptr;
    }
}

QPushButton* centerWidget::RowButton(int row) const {
    switch (row) {
    case kDotNetRow:
        return netFraButton;
    case kToolRow:
        return toolButton;
    case kCaRow:
        return caButton;
    default:
        return nullptr;
    }
}

void centerWidget::InstallEndSlot(int row, int end, qint64 exitCode) {
    if (row < 0 || row >= kRowCount)
        return;
    pendingEnds[row] = end;
    pendingExitCodes[row] = exitCode;
}

void centerWidget::InstallWaitSlot(int row, int waiting) {
    QLabel* status = RowStatusLabel(row);
    QPushButton* button = RowButton(row);
    if (!status || !button)
        return;
    if (waiting) {
        waitingRow = row;
        waitingSavedText = status->text();
        status->setText(kWaitingText);
        button->setText(kCancelWait);
        button->setEnabled(true);
        button->setStyleSheet(ScaledStyle(panelstyle::kReadyButton));
        button->show();
    } else if (waitingRow == row) {
        waitingRow = -1;
        status->setText(waitingSavedText);
        button->setText("下载中");
        button->setEnabled(false);
        button->setStyleSheet(ScaledStyle(panelstyle::kBusyButton));
    }
    UpdateAccessibleTexts();
}

bool centerWidget::CancelInstallWait(int row) {
    if (waitingRow != row)
        return false;
    if (installThread)
        installThread->requestInterruption();
    if (QPushButton* button = RowButton(row))
        button->setEnabled(false);
    return true;
}

void centerWidget::NoticeRestart() {
    if (!restartNeeded)
        return;
    restartNeeded = false;
    ShowRestartNotice(kRestartNotice);
}

void centerWidget::ShowRestartNotice(const QString& text) {
    // Not modal to the program: the automatic re-check goes on while the box is open.
    auto* box = new QMessageBox(QMessageBox::Information, "重启电脑", text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void centerWidget::SetJobButtonsStyle(const QString& style) {
    for (QPushButton* button : {ieButton, caButton, toolButton, netFraButton})
        button->setStyleSheet(style);
}
