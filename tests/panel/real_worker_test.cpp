#include "panel_fixture.h"
#include "probes/registry.h"
#include "test_server.h"

#include <QComboBox>
#include <QSignalSpy>

// The panel's own worker against a local configuration server: the region selected in
// the panel decides which section of the document is read.
TEST_F(PanelTest, CheckWithRealWorkerReadsTheSelectedRegion) {
    testnet::TestServer server;
    server.ServeGbk("/cfg.json", R"({
      "shanxi": {"framework": {"path": "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing"},
                 "tool": {}, "driver": []},
      "hebei": {"framework": {"path": "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\NetFx4"},
                "tool": {}, "driver": []}})");
    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\NetFx4", "Install", "1"), 1);
    config.ipPort = server.ipPort();
    config.url = "/cfg.json";
    MakePanel();
    panel->realWorkers = true;
    QSignalSpy finish(panel.get(), &centerWidget::FinishCheckSig);

    panel->findChild<QComboBox*>("regionCombo")->setCurrentIndex(1);
    checkButton->click();
    DrainThreads();
    ASSERT_EQ(finish.count(), 1);
    EXPECT_EQ(Label("netStatusLabel")->text(), "连接服务器成功");
    EXPECT_EQ(Label("netFraStatusLabel")->text(), ".net framework 4.0已安装");
    EXPECT_EQ(Label("toolStatusLabel")->text(), "投标工具未安装");

    panel->findChild<QComboBox*>("regionCombo")->setCurrentIndex(0);
    checkButton->click();
    DrainThreads();
    ASSERT_EQ(finish.count(), 2);
    EXPECT_EQ(Label("netFraStatusLabel")->text(), ".net framework 4.0未安装");
    EXPECT_FALSE(Button("netFraButton")->isHidden());

    // A server that is gone: the network row fails and the summary says so.
    server.Stop();
    checkButton->click();
    DrainThreads();
    ASSERT_EQ(finish.count(), 3);
    EXPECT_EQ(finish[2], (QList<QVariant>{-1, 1}));
}
