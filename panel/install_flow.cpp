// The panel's side of the install jobs: one-click repair, single installs, progress, and
// the row updates and button states when a job ends.
#include "centerwidget.h"

#include "dpi_scale.h"
#include "engine/checkthread.h"
#include "engine/install_outcome.h"
#include "engine/job_contract.h"
#include "engine/region.h"
#include "panel_styles.h"
#include "status_icon.h"

#include <QComboBox>
#include <QDebug>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>
#include <utility>

namespace {
QString Megabytes(qint64 bytes) {
    return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1) + " MB";
}
} // namespace

void centerWidget::ConnectInstallRecord(CheckThread* thread) {
    pendingOutcomes = {};
    pendingEnds = {};
    pendingExitCodes.fill(-1);
    waitingRow = -1;
    restartNeeded = false;
    installThread = thread;
    connect(thread, &CheckThread::InstallOutcomeSig, this, &centerWidget::InstallOutcomeSlot);
    connect(thread, &CheckThread::InstallEndSig, this, &centerWidget::InstallEndSlot);
    connect(thread, &CheckThread::InstallWaitSig, this, &centerWidget::InstallWaitSlot);
}

void centerWidget::StartUpdate() {
    const int region = regionCombo->currentIndex();
    CheckThread* thread = NewThread(kUpdateJob, region, 0);
    connect(thread, &CheckThread::UpdateResultSig, this,
            [this, region](int result, const QString& text) {
                emit UpdateFinishedSig(result, text, QString::fromStdString(RegionName(region)));
            });
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    connect(thread, &CheckThread::DownloadBytes, this, &centerWidget::UpdateDownloadBytes);
    connect(thread, &CheckThread::JobEndSig, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void centerWidget::SelectRegion(const QString& key) {
    for (int i = 0; i < regionCombo->count(); ++i)
        if (QString::fromStdString(RegionName(i)) == key)
            regionCombo->setCurrentIndex(i);
}

void centerWidget::StartRepair(bool /*repairFlag*/) {
    qDebug() << "center  StartRepair";
    if (!ieButton->isHidden())
        RepaireIECfg();

    int flags = 0;
    const std::pair<QPushButton*, int> rows[] = {
        {netFraButton, kRepairDotNet}, {toolButton, kRepairTool}, {caButton, kRepairCa}};
    for (const auto& [button, bit] : rows) {
        if (button->isHidden())
            continue;
        button->setText("下载中");
        button->setEnabled(false);
        flags |= bit;
    }

    CheckThread* thread = NewThread(kRepairJob, regionCombo->currentIndex(), flags);
    ConnectInstallRecord(thread);
    connect(thread, &CheckThread::RepairFinishSig, this, &centerWidget::RepairFinishSlot);
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    connect(thread, &CheckThread::DownloadBytes, this, &centerWidget::UpdateDownloadBytes);
    // A repair run that ends without its result counts as failed for every selected
    // installer, so the buttons come back and a new check starts.
    auto delivered = std::make_shared<bool>(false);
    connect(thread, &CheckThread::RepairFinishSig, this, [delivered] { *delivered = true; });
    connect(thread, &CheckThread::JobEndSig, this, [this, delivered, flags] {
        if (!*delivered)
            RepairFinishSlot(flags, kNoResultSent, kNoResultSent, kNoResultSent);
    });
    connect(thread, &CheckThread::JobEndSig, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);

    SetJobButtonsStyle(ScaledStyle(panelstyle::kBusyButton));
    if (checkButton)
        checkButton->hide();
    if (repairButton)
        repairButton->setStyleSheet(ScaledStyle(panelstyle::kBusyButton));
    UpdateAccessibleTexts();
}

void centerWidget::StartInstallThread(int mode, void (CheckThread::*resultSig)(int),
                                      void (centerWidget::*resultSlot)(int)) {
    CheckThread* thread = NewThread(mode, regionCombo->currentIndex(), 0);
    ConnectInstallRecord(thread);
    connect(thread, resultSig, this, resultSlot);
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    connect(thread, &CheckThread::DownloadBytes, this, &centerWidget::UpdateDownloadBytes);
    auto delivered = std::make_shared<bool>(false);
    connect(thread, resultSig, this, [delivered] { *delivered = true; });
    connect(thread, &CheckThread::JobEndSig, this, [this, delivered, resultSlot] {
        if (!*delivered)
            (this->*resultSlot)(kNoResultSent);
    });
    connect(thread, &CheckThread::JobEndSig, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void centerWidget::StartSingleInstall(int mode, QPushButton* rowButton,
                                      void (CheckThread::*resultSig)(int),
                                      void (centerWidget::*resultSlot)(int)) {
    StartInstallThread(mode, resultSig, resultSlot);
    rowButton->setText("下载中");
    for (QPushButton* button : {toolButton, caButton, netFraButton})
        button->setEnabled(false);
    if (checkButton)
        checkButton->setEnabled(false);
    if (repairButton)
        repairButton->setEnabled(false);
    SetJobButtonsStyle(ScaledStyle(panelstyle::kBusyButton));
    if (checkButton)
        checkButton->hide();
    if (repairButton)
        repairButton->setStyleSheet(ScaledStyle(panelstyle::kBusyButton));
    UpdateAccessibleTexts();
}

void centerWidget::DownloadCsharpCfg() {
    if (CancelInstallWait(kDotNetRow))
        return;
    StartSingleInstall(kDotNetInstallJob, netFraButton, &CheckThread::DownloadCsharpSig,
                       &centerWidget::DownloadThreadCsharpCfg);
}

void centerWidget::DownloadToolCfg() {
    if (CancelInstallWait(kToolRow))
        return;
    StartSingleInstall(kToolInstallJob, toolButton, &CheckThread::DownloadToolSig,
                       &centerWidget::DownloadThreadToolCfg);
}

void centerWidget::DownloadCaCfg() {
    if (CancelInstallWait(kCaRow))
        return;
    StartSingleInstall(kCaInstallJob, caButton, &CheckThread::DownloadCaSig,
                       &centerWidget::DownloadThreadCaCfg);
}

void centerWidget::UpdateProcess(int res) {
    progressBar->show();
    progressBar->setValue(res);
    qDebug() << "center  UpdateProcess,res:" << res;
}

QString DownloadBytesText(qint64 received, qint64 total) {
    QString text = "已下载 " + Megabytes(received);
    if (total > 0)
        text += " / " + Megabytes(total);
    return text;
}

void centerWidget::UpdateDownloadBytes(qint64 received, qint64 total) {
    downloadBytesLabel->setText(DownloadBytesText(received, total));
    downloadBytesLabel->show();
}

void centerWidget::ShowInstallResult(int row, QLabel* statusLabel, QLabel* iconLabel,
                                     QPushButton* button, const QString& goodText, int res) {
    if (waitingRow == row)
        waitingRow = -1;
    // The installer's exit code decides beside the result: an installer that ran but failed
    // or was cancelled did not install.
    const int end = std::exchange(pendingEnds[row], 0);
    const qint64 exitCode = std::exchange(pendingExitCodes[row], -1);
    bool good = res >= 0;
    QString text = good ? goodText : QString("安装失败，请重试");
    if (end == kInstallEndCancelled) {
        good = false;
        text = kCancelledOutcome;
    } else if (good && end == kInstallEndFailed) {
        good = false;
        text = "安装失败，请重试";
    } else if (good && end == kInstallEndRestart) {
        text = kRestartOutcome;
        restartNeeded = true;
    }
    ShowResult(statusLabel, iconLabel, text, good, true);
    NoteInstall(statusLabel, res);
    lastReport.rows[row].installExitCode =
        end != 0 && exitCode >= 0 ? std::optional<std::int64_t>(exitCode) : std::nullopt;
    button->setVisible(!good);
    if (!good)
        button->setText("下载安装");
    UpdateAccessibleTexts();
}

void centerWidget::EndSingleInstall() {
    for (QPushButton* button : {toolButton, caButton, netFraButton})
        button->setEnabled(true);
    progressBar->hide();
    downloadBytesLabel->hide();
    if (checkButton)
        checkButton->setEnabled(true);
    if (repairButton)
        repairButton->setEnabled(true);

    for (QPushButton* button : {toolButton, caButton, netFraButton})
        button->setStyleSheet(ScaledStyle(panelstyle::kReadyButton));
    if (checkButton)
        checkButton->show();
    if (repairButton)
        repairButton->setStyleSheet(ScaledStyle(panelstyle::kReadyButton));
    ieButton->setStyleSheet(ScaledStyle(panelstyle::kReadyButton));
    UpdateAccessibleTexts();

    NoticeRestart();
    if (checkButton)
        checkButton->click();
}

void centerWidget::DownloadThreadCsharpCfg(int res) {
    qDebug() << "center  DownloadThreadCsharpCfg,res:" << res;
    ShowInstallResult(kDotNetRow, netFraStatusLabel, netFraIconLabel, netFraButton,
                      "安装完成，请重新检测", res);
    EndSingleInstall();
}

void centerWidget::DownloadThreadToolCfg(int res) {
    qDebug() << "center  DownloadThreadToolCfg,res:" << res;
    ShowInstallResult(kToolRow, toolStatusLabel, toolIconLabel, toolButton, "安装完成，请重新检测",
                      res);
    EndSingleInstall();
}

void centerWidget::DownloadThreadCaCfg(int res) {
    qDebug() << "center  DownloadThreadCaCfg,res:" << res;
    ShowInstallResult(kCaRow, caStatusLabel, caIconLabel, caButton, "CA安装完成，请重新检测", res);
    EndSingleInstall();
}

void centerWidget::RepairFinishSlot(int flag, int csharp, int tool, int ca) {
    if (flag & kRepairDotNet) {
        qDebug() << "center  RepairFinishSlot,res:" << csharp;
        ShowInstallResult(kDotNetRow, netFraStatusLabel, netFraIconLabel, netFraButton,
                          "安装完成，请重新检测", csharp);
    }
    if (flag & kRepairTool) {
        qDebug() << "center  DownloadThreadToolCfg,res:" << tool;
        ShowInstallResult(kToolRow, toolStatusLabel, toolIconLabel, toolButton,
                          "安装完成，请重新检测", tool);
    }
    if (flag & kRepairCa) {
        qDebug() << "center  DownloadThreadCaCfg,res:" << ca;
        ShowInstallResult(kCaRow, caStatusLabel, caIconLabel, caButton, "CA安装完成，请重新检测",
                          ca);
    }
    emit FinishRepaireSig(1, 0);

    progressBar->hide();
    downloadBytesLabel->hide();
    for (QPushButton* button : {caButton, toolButton, netFraButton})
        button->setEnabled(true);
    UpdateAccessibleTexts();
    NoticeRestart();
    if (checkButton)
        checkButton->click();

    SetJobButtonsStyle(ScaledStyle(panelstyle::kReadyButton));
    if (checkButton)
        checkButton->show();
    if (repairButton)
        repairButton->setStyleSheet(ScaledStyle(panelstyle::kReadyButton));
}
