// The rows after installers that ended with codes other than 0: installed with a restart
// due (and one notice), cancelled, failed; the wait for another installation and its
// cancel button; the exit code in the report.
#include "engine/install_outcome.h"
#include "engine/report/report_json.h"
#include "engine/report/report_shape.h"
#include "panel/panel_styles.h"
#include "panel_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

namespace {

// A single .NET install whose installer ended as `end` with `code`, told as the engine does.
ScriptedThread::Script NetInstallEnding(int end, qint64 code, const char* outcome) {
    return [=](ScriptedThread& t) {
        emit t.InstallOutcomeSig(kDotNetRow, QString::fromUtf8(outcome));
        emit t.InstallEndSig(kDotNetRow, end, code);
        emit t.DownloadCsharpSig(1);
    };
}

bool ProcessEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST_F(PanelTest, TheRowFollowsTheInstallersEnd) {
    const struct {
        int end;
        qint64 code;
        const char* outcome;
        const char* text;
        bool good;
    } cases[] = {
        {kInstallEndRestart, 3010, kRestartOutcome, "已安装，需重启电脑后生效", true},
        {kInstallEndCancelled, 1602, kCancelledOutcome, "安装已取消", false},
        {kInstallEndFailed, 1603, "安装程序退出码 1603：安装时发生严重错误", "安装失败，请重试",
         false},
        {kInstallEndInstalled, 0, kInstalledOutcome, "安装完成，请重新检测", true},
    };
    MakePanel();
    for (const auto& c : cases) {
        ReportCheck(1, 1, -1, 1, 1);
        panel->restartNotices.clear();
        panel->scripts.push_back(NetInstallEnding(c.end, c.code, c.outcome));
        Button("netFraButton")->click();
        DrainThreads();
        EXPECT_EQ(Label("netFraStatusLabel")->text(), c.text) << c.code;
        EXPECT_EQ(Label("netFraStatusLabel")->styleSheet(),
                  c.good ? "color: green;" : "color: red;")
            << c.code;
        EXPECT_EQ(Button("netFraButton")->isHidden(), c.good) << c.code;
        if (!c.good) {
            EXPECT_EQ(Button("netFraButton")->text(), "下载安装");
        }
        const CheckRow& row = panel->LastReport().rows[kDotNetRow];
        EXPECT_EQ(row.install, c.outcome);
        EXPECT_EQ(row.installExitCode, std::optional<std::int64_t>(c.code));
        EXPECT_EQ(panel->restartNotices.size(), c.end == kInstallEndRestart ? 1u : 0u) << c.code;
    }
}

TEST_F(PanelTest, OneRestartNoticeAfterARepairThatHadAny) {
    MakePanel();
    ReportCheck(1, 1, -1, -1, -4);
    QSignalSpy repaired(panel.get(), &centerWidget::FinishRepaireSig);
    panel->scripts.push_back([](ScriptedThread& t) {
        emit t.InstallOutcomeSig(kDotNetRow, kRestartOutcome);
        emit t.InstallEndSig(kDotNetRow, kInstallEndRestart, 3010);
        emit t.InstallOutcomeSig(kToolRow, kRestartOutcome);
        emit t.InstallEndSig(kToolRow, kInstallEndRestart, 1641);
        emit t.InstallOutcomeSig(kCaRow, "a.dll：安装已取消");
        emit t.InstallEndSig(kCaRow, kInstallEndCancelled, 1223);
        emit t.RepairFinishSig(7, 1, 1, 1);
    });
    panel->StartRepair(true);
    DrainThreads();
    EXPECT_EQ(panel->restartNotices.size(), 1u);
    EXPECT_EQ(Label("netFraStatusLabel")->text(), "已安装，需重启电脑后生效");
    EXPECT_EQ(Label("toolStatusLabel")->text(), "已安装，需重启电脑后生效");
    EXPECT_EQ(Label("caStatusLabel")->text(), "安装已取消");
    EXPECT_FALSE(Button("caButton")->isHidden());
    // The title bar is told what it is always told.
    ASSERT_EQ(repaired.count(), 1);
    EXPECT_EQ(repaired[0], (QList<QVariant>{1, 0}));

    // The report's JSON carries each row's exit code as a number; a later check keeps them.
    ReportCheck(1, 1, 1, 1, 1);
    nlohmann::json json = ReportJson(panel->LastReport());
    EXPECT_EQ(json["rows"][kDotNetRow]["exitCode"], 3010);
    EXPECT_EQ(json["rows"][kToolRow]["exitCode"], 1641);
    EXPECT_EQ(json["rows"][kCaRow]["exitCode"], 1223);
    EXPECT_TRUE(json["rows"][kIERow]["exitCode"].is_null());
    std::string reason;
    EXPECT_TRUE(ValidReportJson(json, reason)) << reason;
}

// While the installer waits for another installation the row says so and its button stops
// the wait; the job then ends as cancelled and the window is usable again.
TEST_F(PanelTest, TheWaitForAnotherInstallationCanBeCancelled) {
    MakePanel();
    ReportCheck(1, 1, -1, 1, 1);
    panel->scripts.push_back([](ScriptedThread& t) {
        emit t.InstallWaitSig(kDotNetRow, 1);
        QElapsedTimer timer;
        timer.start();
        while (!t.isInterruptionRequested() && timer.elapsed() < 10000)
            QThread::msleep(5);
        emit t.InstallWaitSig(kDotNetRow, 0);
        emit t.InstallOutcomeSig(kDotNetRow, kCancelledOutcome);
        emit t.InstallEndSig(kDotNetRow, kInstallEndCancelled, 1618);
        emit t.DownloadCsharpSig(1);
    });
    Button("netFraButton")->click();
    ASSERT_TRUE(ProcessEventsUntil(
        [this] { return Label("netFraStatusLabel")->text() == "正在等待其他安装程序结束…"; }));
    QPushButton* button = Button("netFraButton");
    EXPECT_EQ(button->text(), "取消等待");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(button->isHidden());
    const size_t jobs = panel->requests.size();
    button->click();
    EXPECT_EQ(panel->requests.size(), jobs); // no second install
    DrainThreads();
    EXPECT_EQ(Label("netFraStatusLabel")->text(), "安装已取消");
    EXPECT_EQ(button->text(), "下载安装");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(checkClicks, 1); // the automatic re-check
    EXPECT_EQ(panel->LastReport().rows[kDotNetRow].install, kCancelledOutcome);
}

} // namespace
