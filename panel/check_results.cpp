// The panel's side of a check run: start the worker, turn each result into a row's look,
// count the faults and hand the summary to the title bar.
#include "centerwidget.h"

#include "engine/checkthread.h"
#include "engine/job_contract.h"
#include "engine/row_texts.h"
#include "panel_styles.h"
#include "status_icon.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {
QString RowText(int row, int res) {
    return QString::fromStdString(RowResultText(row, res));
}
} // namespace

void centerWidget::StartCheck(bool message) {
    if (!message)
        return;
    needProcess = 0;
    needDown = 0;
    CheckThread* thread = NewThread(kCheckJob, regionCombo->currentIndex(), 0);
    checkThread = thread;
    checkRunEnded = false;
    connect(thread, &CheckThread::CheckStartSig, this, &centerWidget::CheckStartSlot);
    connect(thread, &CheckThread::CheckNetSig, this, &centerWidget::CheckNetSlot);
    connect(thread, &CheckThread::CheckIESig, this, &centerWidget::CheckIESlot);
    connect(thread, &CheckThread::CheckNetFraSig, this, &centerWidget::CheckNetFraSlot);
    connect(thread, &CheckThread::CheckToolVerSig, this, &centerWidget::CheckToolVerSlot);
    connect(thread, &CheckThread::CheckCAVerSig, this, &centerWidget::CheckCAVerSlot);
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    connect(thread, &CheckThread::CheckReportSig, this, &centerWidget::CheckReportSlot);
    connect(thread, &CheckThread::UpdateOfferSig, this, &centerWidget::UpdateOfferSig);
    // JobEndSig is queued behind every result of the run. A run of the latest check that
    // ends without its last result must not leave the title bar busy.
    connect(thread, &CheckThread::JobEndSig, this, [this, thread] {
        if (thread == checkThread && !checkRunEnded)
            CheckNetSlot(kNetFault);
    });
    connect(thread, &CheckThread::JobEndSig, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void centerWidget::CheckStartSlot(int res) {
    if (res <= 0)
        return;
    const QPixmap waiting = LoadStatusIcon(panelstyle::kIconWaiting, statusIconSize);
    const QPixmap checking = LoadStatusIcon(panelstyle::kIconChecking, statusIconSize);
    SetIconFixed(netIconLabel, checking);
    for (QLabel* icon : {netFraIconLabel, ieIconLabel, toolIconLabel, caIconLabel})
        SetIconFixed(icon, waiting);
    for (QPushButton* button : {netFraButton, ieButton, toolButton, caButton})
        button->hide();
    netStatusLabel->setText("检测中...");
    for (QLabel* status : {netFraStatusLabel, ieStatusLabel, toolStatusLabel, caStatusLabel})
        status->setText("等待检测...");
    UpdateAccessibleTexts();
}

void centerWidget::ShowResult(QLabel* statusLabel, QLabel* iconLabel, const QString& text,
                              bool good, bool fixLabelSize) {
    statusLabel->setText(text);
    statusLabel->setStyleSheet(good ? panelstyle::kGood : panelstyle::kFault);
    const QPixmap icon =
        LoadStatusIcon(good ? panelstyle::kIconOk : panelstyle::kIconError, statusIconSize);
    if (fixLabelSize)
        SetIconFixed(iconLabel, icon);
    else
        iconLabel->setPixmap(icon);
    UpdateAccessibleTexts();
}

void centerWidget::CheckNetSlot(int res) {
    if (res >= 0) {
        ShowResult(netStatusLabel, netIconLabel, RowText(kNetworkRow, res), true, false);
        return;
    }
    ShowResult(netStatusLabel, netIconLabel, RowText(kNetworkRow, res), false, false);
    for (QLabel* status : {netFraStatusLabel, ieStatusLabel, toolStatusLabel, caStatusLabel})
        status->setText(QString());
    UpdateAccessibleTexts();
    checkRunEnded = true;
    emit FinishCheckSig(-1, 1);
}

void centerWidget::CheckIESlot(int res) {
    const bool good = res >= 0;
    ShowResult(ieStatusLabel, ieIconLabel, RowText(kIERow, res), good, false);
    ieButton->setVisible(!good);
    if (!good) {
        ieButton->setText("修复");
        ++needProcess;
    }
    UpdateAccessibleTexts();
}

void centerWidget::CheckNetFraSlot(int res) {
    const bool good = res >= 0;
    ShowResult(netFraStatusLabel, netFraIconLabel, RowText(kDotNetRow, res), good, false);
    netFraButton->setVisible(!good);
    if (!good) {
        netFraButton->setText("下载安装");
        ++needProcess;
        ++needDown;
    }
    UpdateAccessibleTexts();
}

void centerWidget::CheckToolVerSlot(int res) {
    const bool good = res >= 0;
    ShowResult(toolStatusLabel, toolIconLabel, RowText(kToolRow, res), good, false);
    toolButton->setVisible(!good);
    if (!good) {
        toolButton->setText("下载安装");
        ++needProcess;
        ++needDown;
    }
    UpdateAccessibleTexts();
}

void centerWidget::CheckCAVerSlot(int res) {
    const bool good = res >= 0;
    if (!good) {
        // The SKF fault is repaired by the same CA install, but is not counted as a download.
        caButton->setText(res == kCaEnvironmentFault ? "修复" : "下载安装");
        ++needProcess;
        if (res != kCaEnvironmentFault)
            ++needDown;
    }
    ShowResult(caStatusLabel, caIconLabel, RowText(kCaRow, res), good, false);
    caButton->setVisible(!good);
    UpdateAccessibleTexts();
    checkRunEnded = true;
    emit FinishCheckSig(needProcess, needDown);
}
