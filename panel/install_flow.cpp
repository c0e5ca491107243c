// The panel's side of the install jobs: one-click repair, single installs, progress, and
// the row updates and button states when a job ends.
#include "centerwidget.h"

#include "engine/checkthread.h"
#include "panel_styles.h"
#include "status_icon.h"

#include <QComboBox>
#include <QDebug>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

namespace {
QString Megabytes(qint64 bytes) {
    return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1) + " MB";
}

const int kNetFraBit = 1;
const int kToolBit = 2;
const int kCaBit = 4;
} // namespace

void centerWidget::SetJobButtonsStyle(const QString& style) {
    for (QPushButton* button : {ieButton, caButton, toolButton, netFraButton})
        button->setStyleSheet(style);
}

void centerWidget::StartRepair(bool /*repairFlag*/) {
    qDebug() << "center  StartRepair";
    if (!ieButton->isHidden())
        RepaireIECfg();

    int flags = 0;
    const std::pair<QPushButton*, int> rows[] = {
        {netFraButton, kNetFraBit}, {toolButton, kToolBit}, {caButton, kCaBit}};
    for (const auto& [button, bit] : rows) {
        if (button->isHidden())
            continue;
        button->setText("下载中");
        button->setEnabled(false);
        flags |= bit;
    }

    pendingOutcomes = {};
    CheckThread* thread = NewThread(4, regionCombo->currentIndex(), flags);
    connect(thread, &CheckThread::InstallOutcomeSig, this, &centerWidget::InstallOutcomeSlot);
    connect(thread, &CheckThread::RepairFinishSig, this, &centerWidget::RepairFinishSlot);
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    connect(thread, &CheckThread::DownloadBytes, this, &centerWidget::UpdateDownloadBytes);
    // A repair run that ends without its result counts as failed for every selected
    // installer, so the buttons come back and a new check starts.
    auto delivered = std::make_shared<bool>(false);
    connect(thread, &CheckThread::RepairFinishSig, this, [delivered] { *delivered = true; });
    connect(thread, &CheckThread::JobEndSig, this, [this, delivered, flags] {
        if (!*delivered)
            RepairFinishSlot(flags, -1, -1, -1);
    });
    connect(thread, &CheckThread::JobEndSig, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);

    SetJobButtonsStyle(panelstyle::kBusyButton);
    if (checkButton)
        checkButton->hide();
    if (repairButton)
        repairButton->setStyleSheet(panelstyle::kBusyButton);
}

void centerWidget::StartInstallThread(int mode, void (CheckThread::*resultSig)(int),
                                      void (centerWidget::*resultSlot)(int)) {
    pendingOutcomes = {};
    CheckThread* thread = NewThread(mode, regionCombo->currentIndex(), 0);
    connect(thread, &CheckThread::InstallOutcomeSig, this, &centerWidget::InstallOutcomeSlot);
    connect(thread, resultSig, this, resultSlot);
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    connect(thread, &CheckThread::DownloadBytes, this, &centerWidget::UpdateDownloadBytes);
    auto delivered = std::make_shared<bool>(false);
    connect(thread, resultSig, this, [delivered] { *delivered = true; });
    connect(thread, &CheckThread::JobEndSig, this, [this, delivered, resultSlot] {
        if (!*delivered)
            (this->*resultSlot)(-1);
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
    SetJobButtonsStyle(panelstyle::kBusyButton);
    if (checkButton)
        checkButton->hide();
    if (repairButton)
        repairButton->setStyleSheet(panelstyle::kBusyButton);
}

void centerWidget::DownloadCsharpCfg() {
    StartSingleInstall(1, netFraButton, &CheckThread::DownloadCsharpSig,
                       &centerWidget::DownloadThreadCsharpCfg);
}

void centerWidget::DownloadToolCfg() {
    StartSingleInstall(2, toolButton, &CheckThread::DownloadToolSig,
                       &centerWidget::DownloadThreadToolCfg);
}

void centerWidget::DownloadCaCfg() {
    StartSingleInstall(3, caButton, &CheckThread::DownloadCaSig,
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

void centerWidget::ShowInstallResult(QLabel* statusLabel, QLabel* iconLabel, QPushButton* button,
                                     const QString& goodText, int res) {
    const bool good = res >= 0;
    ShowResult(statusLabel, iconLabel, good ? goodText : QString("安装失败，请重试"), good, true);
    NoteInstall(statusLabel, res);
    button->setVisible(!good);
    if (!good)
        button->setText("下载安装");
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
        button->setStyleSheet(panelstyle::kReadyButton);
    if (checkButton)
        checkButton->show();
    if (repairButton)
        repairButton->setStyleSheet(panelstyle::kReadyButton);
    ieButton->setStyleSheet(panelstyle::kReadyButton);

    if (checkButton)
        checkButton->click();
}

void centerWidget::DownloadThreadCsharpCfg(int res) {
    qDebug() << "center  DownloadThreadCsharpCfg,res:" << res;
    ShowInstallResult(netFraStatusLabel, netFraIconLabel, netFraButton, "安装完成，请重新检测",
                      res);
    EndSingleInstall();
}

void centerWidget::DownloadThreadToolCfg(int res) {
    qDebug() << "center  DownloadThreadToolCfg,res:" << res;
    ShowInstallResult(toolStatusLabel, toolIconLabel, toolButton, "安装完成，请重新检测", res);
    EndSingleInstall();
}

void centerWidget::DownloadThreadCaCfg(int res) {
    qDebug() << "center  DownloadThreadCaCfg,res:" << res;
    ShowInstallResult(caStatusLabel, caIconLabel, caButton, "CA安装完成，请重新检测", res);
    EndSingleInstall();
}

void centerWidget::RepairFinishSlot(int flag, int csharp, int tool, int ca) {
    if (flag & kNetFraBit) {
        qDebug() << "center  RepairFinishSlot,res:" << csharp;
        ShowInstallResult(netFraStatusLabel, netFraIconLabel, netFraButton, "安装完成，请重新检测",
                          csharp);
    }
    if (flag & kToolBit) {
        qDebug() << "center  DownloadThreadToolCfg,res:" << tool;
        ShowInstallResult(toolStatusLabel, toolIconLabel, toolButton, "安装完成，请重新检测", tool);
    }
    if (flag & kCaBit) {
        qDebug() << "center  DownloadThreadCaCfg,res:" << ca;
        ShowInstallResult(caStatusLabel, caIconLabel, caButton, "CA安装完成，请重新检测", ca);
    }
    emit FinishRepaireSig(1, 0);

    progressBar->hide();
    downloadBytesLabel->hide();
    for (QPushButton* button : {caButton, toolButton, netFraButton})
        button->setEnabled(true);
    if (checkButton)
        checkButton->click();

    SetJobButtonsStyle(panelstyle::kReadyButton);
    if (checkButton)
        checkButton->show();
    if (repairButton)
        repairButton->setStyleSheet(panelstyle::kReadyButton);
}
