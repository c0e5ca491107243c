#include "panel_fixture.h"

#include <QComboBox>
#include <QProgressBar>
#include <QSignalSpy>

namespace {
const char* const kRowButtons[] = {"netFraButton", "ieButton", "toolButton", "caButton"};
const char* const kStatusLabels[] = {"netStatusLabel", "netFraStatusLabel", "ieStatusLabel",
                                     "toolStatusLabel", "caStatusLabel"};
const char* const kIconLabels[] = {"netIconLabel", "netFraIconLabel", "ieIconLabel",
                                   "toolIconLabel", "caIconLabel"};
} // namespace

TEST_F(PanelTest, StartsEmptyWithRegionsAndGroupIcons) {
    MakePanel();
    for (const char* name : kStatusLabels)
        EXPECT_EQ(Label(name)->text(), "") << name;
    for (const char* name : kIconLabels)
        EXPECT_FALSE(IconColour(name).isValid()) << name;
    for (const char* name : kRowButtons)
        EXPECT_TRUE(Button(name)->isHidden()) << name;
    EXPECT_EQ(Button("ieButton")->text(), "");
    EXPECT_EQ(Button("caButton")->text(), "下载安装");
    EXPECT_TRUE(panel->findChild<QProgressBar*>("progressBar")->isHidden());
    auto* regions = panel->findChild<QComboBox*>("regionCombo");
    ASSERT_EQ(regions->count(), 3);
    EXPECT_EQ(regions->itemText(0) + regions->itemText(1) + regions->itemText(2), "山西河北内蒙");
    EXPECT_EQ(regions->currentIndex(), 0);
    EXPECT_EQ(IconColour("caGroupIconLabel"), FileColour("ca_icon.png"));
    EXPECT_EQ(Label("caGroupIconLabel")->size(), QSize(24, 24));
}

TEST_F(PanelTest, BuildsWithoutImageFolder) {
    std::filesystem::remove_all(workDir / "image");
    MakePanel();
    EXPECT_EQ(Label("baseIconLabel")->size(), QSize(0, 0));
    panel->CheckStartSlot(1);
    EXPECT_FALSE(IconColour("netIconLabel").isValid());
    EXPECT_EQ(Label("netStatusLabel")->text(), "检测中...");
}

TEST_F(PanelTest, EachRunTakesTheRegionSelectedAtItsStart) {
    MakePanel();
    auto* regions = panel->findChild<QComboBox*>("regionCombo");
    regions->setCurrentIndex(1);
    panel->StartCheck(true);
    regions->setCurrentIndex(2);
    panel->StartCheck(true);
    panel->StartCheck(false);
    ASSERT_EQ(panel->requests.size(), 2u);
    EXPECT_EQ(panel->requests[0].mode, 0);
    EXPECT_EQ(panel->requests[0].regionIndex, 1);
    EXPECT_EQ(panel->requests[1].regionIndex, 2);
}

TEST_F(PanelTest, AllGoodSummarisesZeroAndShowsNoButton) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    ReportCheck(1, 1, 0, 1, 1);
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(finish[0], (QList<QVariant>{0, 0}));
    for (const char* name : kRowButtons)
        EXPECT_TRUE(Button(name)->isHidden()) << name;
    EXPECT_EQ(Label("netFraStatusLabel")->text(), ".net framework 4.0已安装");
    EXPECT_EQ(Label("caStatusLabel")->text(), "CA驱动版本安装正常");
    for (const char* name : kStatusLabels)
        EXPECT_EQ(Label(name)->styleSheet(), "color: green;") << name;
    for (const char* name : kIconLabels)
        EXPECT_EQ(IconColour(name), FileColour("check_ok.png")) << name;
}

TEST_F(PanelTest, FaultsAreCountedAndOfferTheirAction) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    ReportCheck(1, -1, -1, -4, -5);
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(finish[0], (QList<QVariant>{4, 2}));
    EXPECT_EQ(Button("ieButton")->text(), "修复");
    EXPECT_EQ(Button("caButton")->text(), "修复");
    EXPECT_EQ(Button("netFraButton")->text(), "下载安装");
    EXPECT_EQ(Button("toolButton")->text(), "下载安装");
    for (const char* name : kRowButtons)
        EXPECT_FALSE(Button(name)->isHidden()) << name;
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置检测异常");
    EXPECT_EQ(Label("toolStatusLabel")->styleSheet(), "color: red;");
    EXPECT_EQ(IconColour("toolIconLabel"), FileColour("check_err.png"));

    // The counters start again with every run.
    panel->StartCheck(true);
    ReportCheck(1, 1, 1, 1, 1);
    EXPECT_EQ(finish.last(), (QList<QVariant>{0, 0}));
}

TEST_F(PanelTest, ToolAndCaCodesPickTextAndCount) {
    struct Case {
        int tool, ca;
        const char* toolText;
        const char* caText;
        int needProcess, needDown;
    };
    const Case cases[] = {
        {-1, -1, "投标工具未安装", "CA驱动未安装", 2, 2},
        {-3, -4, "投标工具未安装", "CA驱动版本不正确", 2, 2},
        {-4, -5, "投标工具安装版本不正确", "CA驱动环境异常", 2, 1},
        {0, -2, "投标工具安装正常", "CA驱动未安装", 1, 1},
    };
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    for (const Case& c : cases) {
        ReportCheck(1, 1, 1, c.tool, c.ca);
        EXPECT_EQ(Label("toolStatusLabel")->text(), c.toolText) << c.tool;
        EXPECT_EQ(Label("caStatusLabel")->text(), c.caText) << c.ca;
        EXPECT_EQ(finish.last(), (QList<QVariant>{c.needProcess, c.needDown})) << c.ca;
        panel->StartCheck(true);
    }
}

TEST_F(PanelTest, NetworkFailureBlanksTheOtherRows) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    panel->CheckStartSlot(1);
    panel->CheckNetSlot(-2);
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(finish[0], (QList<QVariant>{-1, 1}));
    EXPECT_EQ(Label("netStatusLabel")->text(), "请检查网络连接是否正常");
    EXPECT_EQ(Label("netStatusLabel")->styleSheet(), "color: red;");
    for (const char* name : {"netFraStatusLabel", "ieStatusLabel", "caStatusLabel"})
        EXPECT_EQ(Label(name)->text(), "") << name;
    EXPECT_EQ(IconColour("caIconLabel"), FileColour("checking_wait.png"));
}

TEST_F(PanelTest, NewRunResetsTextsButKeepsColoursUntilResults) {
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    panel->CheckStartSlot(0);
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置检测异常");
    panel->CheckStartSlot(1);
    EXPECT_EQ(Label("netStatusLabel")->text(), "检测中...");
    EXPECT_EQ(Label("ieStatusLabel")->text(), "等待检测...");
    EXPECT_EQ(Label("ieStatusLabel")->styleSheet(), "color: red;");
    EXPECT_EQ(Label("caStatusLabel")->styleSheet(), "color: green;");
    EXPECT_EQ(IconColour("netIconLabel"), FileColour("checking.png"));
    EXPECT_EQ(IconColour("ieIconLabel"), FileColour("checking_wait.png"));
    EXPECT_TRUE(Button("ieButton")->isHidden());
}

TEST_F(PanelTest, FalseRequestStartsNothingAndKeepsCounters) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    ReportCheck(1, -1, -1, 1, 1);
    panel->StartCheck(false);
    panel->CheckCAVerSlot(1);
    EXPECT_TRUE(panel->requests.empty());
    EXPECT_EQ(finish.last(), (QList<QVariant>{2, 1}));
}

TEST_F(PanelTest, WorkerResultsArriveQueuedAndTheWorkerIsReleased) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    panel->scripts.push_back([](ScriptedThread& t) {
        emit t.CheckStartSig(1);
        emit t.CheckNetSig(1);
        emit t.CheckIESig(-1);
        emit t.CheckNetFraSig(1);
        emit t.CheckToolVerSig(1);
        emit t.CheckCAVerSig(-4);
    });
    panel->StartCheck(true);
    DrainThreads();
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(finish[0], (QList<QVariant>{2, 1}));
    EXPECT_EQ(Label("netStatusLabel")->text(), "连接服务器成功");
    EXPECT_TRUE(panel->threads.at(0).isNull());
}

// A worker that ends without its last result must not leave the title bar checking.
TEST_F(PanelTest, CheckEndingWithoutResultShowsNetworkFailure) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    panel->factory = [](int, int region, int flags) {
        return new CheckThread(99, region, "", "", "", flags, nullptr);
    };
    panel->StartCheck(true);
    DrainThreads();
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(finish[0], (QList<QVariant>{-1, 1}));
    EXPECT_EQ(Label("netStatusLabel")->text(), "请检查网络连接是否正常");

    // Stopping after a good network result ends the same way.
    panel->factory = nullptr;
    panel->scripts.push_back([](ScriptedThread& t) {
        emit t.CheckStartSig(1);
        emit t.CheckNetSig(1);
        emit t.CheckIESig(1);
    });
    panel->StartCheck(true);
    DrainThreads();
    ASSERT_EQ(finish.count(), 2);
    EXPECT_EQ(finish[1], (QList<QVariant>{-1, 1}));
}

TEST_F(PanelTest, SupersededCheckEndingSilentlyIsIgnored) {
    MakePanel();
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);
    panel->scripts.push_back([](ScriptedThread&) {});
    panel->scripts.push_back([](ScriptedThread& t) {
        QThread::msleep(50);
        emit t.CheckStartSig(1);
        emit t.CheckNetSig(1);
        emit t.CheckIESig(1);
        emit t.CheckNetFraSig(1);
        emit t.CheckToolVerSig(1);
        emit t.CheckCAVerSig(1);
    });
    panel->StartCheck(true);
    panel->StartCheck(true);
    DrainThreads();
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(finish[0], (QList<QVariant>{0, 0}));
}
