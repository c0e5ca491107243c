// The panel's side of a check run: start the worker, turn each result into a row's look,
// count the faults and hand the summary to the title bar.
#include "centerwidget.h"

#include "engine/checkthread.h"
#include "panel_styles.h"
#include "status_icon.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

void centerWidget::StartCheck(bool message) {
    if (!message)
        return;
    needProcess = 0;
    needDown = 0;
    CheckThread* thread = NewThread(0, regionCombo->currentIndex(), 0);
    checkThread = thread;
    checkRunEnded = false;
    connect(thread, &CheckThread::CheckStartSig, this, &centerWidget::CheckStartSlot);
    connect(thread, &CheckThread::CheckNetSig, this, &centerWidget::CheckNetSlot);
    connect(thread, &CheckThread::CheckIESig, this, &centerWidget::CheckIESlot);
    connect(thread, &CheckThread::CheckNetFraSig, this, &centerWidget::CheckNetFraSlot);
    connect(thread, &CheckThread::CheckToolVerSig, this, &centerWidget::CheckToolVerSlot);
    connect(thread, &CheckThread::CheckCAVerSig, this, &centerWidget::CheckCAVerSlot);
    connect(thread, &CheckThread::UpdateProcess, this, &centerWidget::UpdateProcess);
    // finished is queued behind every result of the run. A run of the latest check that
    // ends without its last result must not leave the title bar busy.
    connect(thread, &QThread::finished, this, [this, thread] {
        if (thread == checkThread && !checkRunEnded)
            CheckNetSlot(-1);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
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
}

void centerWidget::CheckNetSlot(int res) {
    if (res >= 0) {
        ShowResult(netStatusLabel, netIconLabel, "连接服务器成功", true, false);
        return;
    }
    ShowResult(netStatusLabel, netIconLabel, "请检查网络连接是否正常", false, false);
    for (QLabel* status : {netFraStatusLabel, ieStatusLabel, toolStatusLabel, caStatusLabel})
        status->setText(QString());
    checkRunEnded = true;
    emit FinishCheckSig(-1, 1);
}

void centerWidget::CheckIESlot(int res) {
    const bool good = res >= 0;
    ShowResult(ieStatusLabel, ieIconLabel, good ? "IE浏览器配置检测正常" : "IE浏览器配置检测异常",
               good, false);
    ieButton->setVisible(!good);
    if (good)
        return;
    ieButton->setText("修复");
    ++needProcess;
}

void centerWidget::CheckNetFraSlot(int res) {
    const bool good = res >= 0;
    ShowResult(netFraStatusLabel, netFraIconLabel,
               good ? ".net framework 4.0已安装" : ".net framework 4.0未安装", good, false);
    netFraButton->setVisible(!good);
    if (good)
        return;
    netFraButton->setText("下载安装");
    ++needProcess;
    ++needDown;
}

void centerWidget::CheckToolVerSlot(int res) {
    const bool good = res >= 0;
    QString text = "投标工具安装正常";
    if (res == -4)
        text = "投标工具安装版本不正确";
    else if (!good)
        text = "投标工具未安装";
    ShowResult(toolStatusLabel, toolIconLabel, text, good, false);
    toolButton->setVisible(!good);
    if (good)
        return;
    toolButton->setText("下载安装");
    ++needProcess;
    ++needDown;
}

void centerWidget::CheckCAVerSlot(int res) {
    const bool good = res >= 0;
    QString text = "CA驱动版本安装正常";
    if (res == -4)
        text = "CA驱动版本不正确";
    else if (res == -5)
        text = "CA驱动环境异常";
    else if (!good)
        text = "CA驱动未安装";
    if (!good) {
        // -5 is repaired by the same CA install, but is not counted as a download.
        caButton->setText(res == -5 ? "修复" : "下载安装");
        ++needProcess;
        if (res != -5)
            ++needDown;
    }
    ShowResult(caStatusLabel, caIconLabel, text, good, false);
    caButton->setVisible(!good);
    checkRunEnded = true;
    emit FinishCheckSig(needProcess, needDown);
}
