#include "panel/panel_styles.h"
#include "panel_fixture.h"

#include <QProgressBar>
#include <QSignalSpy>

namespace {
const QString kBusy = panelstyle::kBusyButton;
const QString kReady = panelstyle::kReadyButton;
} // namespace

TEST_F(PanelTest, RepairWithOnlyIeFaultyStartsEmptyRepairThenNewCheck) {
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    QSignalSpy repaired(panel.get(), &centerWidget::FinishRepaireSig);
    panel->scripts.push_back([](ScriptedThread& t) { emit t.RepairFinishSig(0, 0, 0, 0); });
    panel->StartRepair(false);

    ASSERT_EQ(panel->requests.size(), 1u);
    EXPECT_EQ(panel->requests[0].mode, 4);
    EXPECT_EQ(panel->requests[0].repairFlags, 0);
    for (const char* name : {"ieButton", "netFraButton", "toolButton", "caButton"})
        EXPECT_EQ(Button(name)->styleSheet(), kBusy) << name;
    EXPECT_TRUE(checkButton->isHidden());
    EXPECT_EQ(repairButton->styleSheet(), kBusy);

    DrainThreads();
    ASSERT_EQ(repaired.count(), 1);
    EXPECT_EQ(repaired[0], (QList<QVariant>{1, 0}));
    EXPECT_EQ(Label("toolStatusLabel")->text(), "投标工具安装正常");
    EXPECT_EQ(checkClicks, 1);
    EXPECT_EQ(panel->requests.back().mode, 0);
    EXPECT_EQ(Button("caButton")->styleSheet(), kReady);
    EXPECT_FALSE(checkButton->isHidden());
}

TEST_F(PanelTest, RepairUpdatesOnlyTheSelectedRows) {
    MakePanel();
    ReportCheck(1, 1, -1, 1, -4);
    panel->scripts.push_back([](ScriptedThread& t) {
        emit t.UpdateProcess(100);
        emit t.RepairFinishSig(5, 1, -1, -1);
    });
    panel->StartRepair(true);
    EXPECT_EQ(panel->requests.at(0).repairFlags, 5);
    EXPECT_EQ(Button("netFraButton")->text(), "下载中");
    EXPECT_FALSE(Button("caButton")->isEnabled());
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置检测正常");

    DrainThreads();
    EXPECT_EQ(Label("netFraStatusLabel")->text(), "安装完成，请重新检测");
    EXPECT_EQ(Label("netFraStatusLabel")->styleSheet(), "color: green;");
    EXPECT_TRUE(Button("netFraButton")->isHidden());
    EXPECT_EQ(Label("caStatusLabel")->text(), "安装失败，请重试");
    EXPECT_EQ(IconColour("caIconLabel"), FileColour("check_err.png"));
    EXPECT_EQ(Button("caButton")->text(), "下载安装");
    EXPECT_TRUE(Button("caButton")->isEnabled());
    EXPECT_EQ(Label("toolStatusLabel")->text(), "投标工具安装正常");
    EXPECT_TRUE(panel->findChild<QProgressBar*>("progressBar")->isHidden());
}

TEST_F(PanelTest, SingleInstallBusyStateAndFailedResult) {
    MakePanel();
    ReportCheck(1, -1, 1, 1, -4);
    panel->scripts.push_back([](ScriptedThread& t) {
        emit t.UpdateProcess(40);
        emit t.DownloadCaSig(-1);
    });
    Button("caButton")->click();
    ASSERT_EQ(panel->requests.size(), 1u);
    EXPECT_EQ(panel->requests[0].mode, 3);
    EXPECT_EQ(Button("caButton")->text(), "下载中");
    for (const char* name : {"netFraButton", "toolButton", "caButton"})
        EXPECT_FALSE(Button(name)->isEnabled()) << name;
    EXPECT_TRUE(Button("ieButton")->isEnabled());
    EXPECT_EQ(Button("ieButton")->styleSheet(), kBusy);
    EXPECT_TRUE(checkButton->isHidden());
    EXPECT_FALSE(repairButton->isEnabled());

    DrainThreads();
    EXPECT_EQ(Label("caStatusLabel")->text(), "安装失败，请重试");
    EXPECT_EQ(Label("caStatusLabel")->styleSheet(), "color: red;");
    EXPECT_FALSE(Button("caButton")->isHidden());
    EXPECT_EQ(Button("caButton")->text(), "下载安装");
    for (const char* name : {"netFraButton", "toolButton", "caButton", "ieButton"})
        EXPECT_EQ(Button(name)->styleSheet(), kReady) << name;
    EXPECT_TRUE(repairButton->isEnabled());
    EXPECT_EQ(checkClicks, 1);
    EXPECT_EQ(panel->requests.back().mode, 0);
}

TEST_F(PanelTest, SingleInstallsReportTheirRow) {
    struct Case {
        const char* button;
        int mode;
        void (CheckThread::*result)(int);
        const char* status;
        const char* goodText;
    };
    const Case cases[] = {
        {"netFraButton", 1, &CheckThread::DownloadCsharpSig, "netFraStatusLabel",
         "安装完成，请重新检测"},
        {"toolButton", 2, &CheckThread::DownloadToolSig, "toolStatusLabel", "安装完成，请重新检测"},
        {"caButton", 3, &CheckThread::DownloadCaSig, "caStatusLabel", "CA安装完成，请重新检测"},
    };
    MakePanel();
    for (const Case& c : cases) {
        ReportCheck(1, 1, -1, -1, -1);
        panel->requests.clear();
        auto result = c.result;
        panel->scripts.push_back([result](ScriptedThread& t) { emit(t.*result)(0); });
        Button(c.button)->click();
        DrainThreads();
        EXPECT_EQ(panel->requests.at(0).mode, c.mode);
        EXPECT_EQ(Label(c.status)->text(), c.goodText) << c.button;
        EXPECT_EQ(IconColour(c.status == std::string("caStatusLabel") ? "caIconLabel"
                             : c.mode == 1                            ? "netFraIconLabel"
                                                                      : "toolIconLabel"),
                  FileColour("check_ok.png"));
        EXPECT_TRUE(Button(c.button)->isHidden()) << c.button;
    }
}

TEST_F(PanelTest, ProgressShowsUntilTheJobEnds) {
    MakePanel();
    auto* bar = panel->findChild<QProgressBar*>("progressBar");
    panel->UpdateProcess(100);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->value(), 100);
    auto* bytes = panel->findChild<QLabel*>("downloadBytesLabel");
    EXPECT_TRUE(bytes->isHidden());
    panel->UpdateDownloadBytes(12897485, 50436300);
    EXPECT_FALSE(bytes->isHidden());
    EXPECT_EQ(bytes->text(), "已下载 12.3 MB / 48.1 MB");
    panel->DownloadThreadToolCfg(1);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(bytes->isHidden());
    panel->UpdateDownloadBytes(1, 0);
    panel->RepairFinishSlot(0, 0, 0, 0);
    EXPECT_TRUE(bytes->isHidden());
    EXPECT_EQ(DownloadBytesText(0, 0), "已下载 0.0 MB"); // size not announced
}

// Jobs whose worker ends without reporting count as failed and give the buttons back.
TEST_F(PanelTest, JobsEndingWithoutResultRestoreTheButtons) {
    MakePanel();
    ReportCheck(1, 1, 1, -1, -1);
    panel->scripts.push_back([](ScriptedThread&) {});
    Button("toolButton")->click();
    DrainThreads();
    EXPECT_EQ(Label("toolStatusLabel")->text(), "安装失败，请重试");
    EXPECT_TRUE(Button("caButton")->isEnabled());
    EXPECT_FALSE(checkButton->isHidden());
    EXPECT_EQ(checkClicks, 1);

    ReportCheck(1, 1, 1, -1, -1);
    QSignalSpy repaired(panel.get(), &centerWidget::FinishRepaireSig);
    panel->scripts.push_back([](ScriptedThread&) {});
    panel->StartRepair(true);
    DrainThreads();
    EXPECT_EQ(repaired.count(), 1);
    EXPECT_EQ(Label("caStatusLabel")->text(), "安装失败，请重试");
    EXPECT_TRUE(Button("toolButton")->isEnabled());
    EXPECT_EQ(checkClicks, 2);
}
