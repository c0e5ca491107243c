// The check report in the window: the details behind each row's result text as a tooltip,
// the last install's outcome kept across the re-check, and the copy/save menu.
#include "engine/report/report_json.h"
#include "engine/report/report_text.h"
#include "panel_fixture.h"
#include "pe_fixture.h"
#include "probes/registry.h"
#include "test_server.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTextDocument>
#include <fstream>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

const char kInet[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                     "Internet Settings\\";

QStringList TooltipLines(const QLabel* label) {
    QTextDocument doc;
    doc.setHtml(label->toolTip());
    return doc.toPlainText().split('\n');
}

class ReportViewTest : public PanelTest {
  protected:
    // A document whose every row is faulty on the test machine in one way each.
    // `extra`: more top-level members of the document, each with a leading comma.
    void ServeFaultyWorld(const std::string& extra = "") {
        server.ServeGbk("/cfg.json", R"({"shanxi": {
          "framework": {"path": "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\NetFx4",
                        "url": "http://127.0.0.1:1/none"},
          "tool": {"path": "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Tool", "key": "Dir",
                   "fileName": "t.config", "fileVersion": "2.0", "url": "http://127.0.0.1:1/none"},
          "driver": [{"path": "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Ca", "key": "Dir",
                      "fileName": "ca.dll", "fileVersion": "1.2.3.4",
                      "fileModifyDtm": "2024-03-15 10:20", "url": ")" +
                                         server.Url("/files/ca-setup") + R"("}]})" + extra + "}");
        const DWORD zero = 0;
        ASSERT_EQ(
            RegSetDwordValue(HKEY_CURRENT_USER,
                             "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                             "SyncMode5", &zero),
            1);
        ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tool", "Dir", "C:\\Tool"), 1);
        toolConfig = machine.Native("C:\\Tool\\t.config");
        fs::create_directories(toolConfig.parent_path());
        std::ofstream(toolConfig) << "<configuration><appSettings><add key=\"Version\" "
                                     "value=\"1.0\"/></appSettings></configuration>";
        ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ca", "Dir", "C:\\Ca"), 1);
        caFile = machine.Native("C:\\Ca\\ca.dll");
        WritePe(caFile, "1.2.3.3");
        config.ipPort = server.ipPort();
        config.url = "/cfg.json";
        MakePanel();
        panel->realWorkers = true;
    }

    void Check() {
        checkButton->click();
        DrainThreads();
    }

    // The report menu as a right click on a row opens it.
    QMenu* OpenMenu() {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5));
        QApplication::sendEvent(Label("caStatusLabel"), &event);
        QMenu* menu = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible())
                menu = m;
        return menu;
    }

    testnet::TestServer server;
    fs::path toolConfig;
    fs::path caFile;
};

TEST_F(ReportViewTest, TooltipSaysWhatEachFaultyRowFound) {
    ServeFaultyWorld();
    Check();
    ASSERT_EQ(Label("toolStatusLabel")->text(), "投标工具安装版本不正确");

    EXPECT_EQ(TooltipLines(Label("netFraStatusLabel")),
              QStringList{"注册表项不存在（计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\NetFx4）"});
    EXPECT_EQ(
        TooltipLines(Label("ieStatusLabel")),
        (QStringList{
            "检测的是当前登录用户 QUELDA-PC\\user 的设置",
            QString("IE检查网页新版本（SyncMode5）：需要 3，当前 0（%1SyncMode5）").arg(kInet),
            QString("IE受信任站点不存在（%1ZoneMap\\Domains\\ebid.quelda.com）").arg(kInet),
            QString("IE安全协议（SecureProtocols）：需要 0x00002AA0，当前 未找到（%1"
                    "SecureProtocols）")
                .arg(kInet),
            "IE最大WebSocket连接数：需要 100，当前 未找到（HKEY_LOCAL_MACHINE\\SOFTWARE\\"
            "Policies\\Microsoft\\Internet Explorer\\Main\\MaximumWebSocketConnections）"}));
    const QStringList tool = TooltipLines(Label("toolStatusLabel"));
    ASSERT_EQ(tool.size(), 3);
    EXPECT_EQ(tool[0], "注册表值：C:\\Tool（计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Tool\\Dir）");
    EXPECT_EQ(tool[2], QString("需要版本 2.0，当前版本 1.0（%1）")
                           .arg(QString::fromStdString(toolConfig.u8string())));
    const QStringList ca = TooltipLines(Label("caStatusLabel"));
    ASSERT_EQ(ca.size(), 5);
    EXPECT_EQ(ca[2], QString("驱动1：需要版本 1.2.3.4，当前版本 1.2.3.3（%1）")
                         .arg(QString::fromStdString(caFile.u8string())));
    EXPECT_TRUE(ca[3].startsWith("驱动1：需要修改时间 2024-03-15 10:20，当前修改时间 "))
        << ca[3].toStdString();
    EXPECT_TRUE(ca[4].startsWith("SKFAPI20050.dll不存在（")) << ca[4].toStdString();

    server.Stop();
    Check();
    const QStringList net = TooltipLines(Label("netStatusLabel"));
    ASSERT_EQ(net.size(), 2);
    EXPECT_EQ(net[0], QString("服务器地址：%1").arg(QString::fromStdString(config.ipPort)));
    EXPECT_TRUE(net[1].startsWith(QString("服务器应答：无应答（http://%1/cfg.json），")
                                      .arg(QString::fromStdString(config.ipPort))))
        << net[1].toStdString();
    EXPECT_TRUE(Label("toolStatusLabel")->toolTip().isEmpty());
}

// The automatic re-check after a failed install replaces the row's text; the reason stays
// in the tooltip.
TEST_F(ReportViewTest, InstallOutcomeOutlivesTheRecheck) {
    ServeFaultyWorld();
    Check();
    Button("toolButton")->click();
    DrainThreads();
    EXPECT_EQ(Label("toolStatusLabel")->text(), "投标工具安装版本不正确");
    const QStringList tool = TooltipLines(Label("toolStatusLabel"));
    EXPECT_EQ(tool.last(), "本次安装：下载失败：连接失败");
    EXPECT_EQ(panel->LastReport().rows[kToolRow].install, "下载失败：连接失败");
    EXPECT_TRUE(panel->LastReport().rows[kCaRow].install.empty());

    // A repair: the installer that ran but failed is named with its exit code.
    server.ServeBytes("/files/ca-setup", "#!/bin/sh\nexit 3\n");
    panel->StartRepair(true);
    DrainThreads();
    EXPECT_EQ(Label("caStatusLabel")->text(), "CA驱动版本不正确");
    EXPECT_EQ(TooltipLines(Label("caStatusLabel")).last(), "本次安装：ca.dll：安装程序退出码 3");
    EXPECT_EQ(panel->LastReport().rows[kDotNetRow].install, "下载失败：连接失败");
}

TEST_F(ReportViewTest, ContextMenuCopiesAndSavesTheReport) {
    ServeFaultyWorld();
    Check();
    QMenu* menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[1]->text(), "保存检测报告…");
    EXPECT_EQ(actions[0]->text(), "复制检测报告");
    actions[0]->trigger();
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied.toStdString(), ReportText(panel->LastReport()));
    EXPECT_TRUE(copied.contains("【CA版本检测】CA驱动版本不正确"));
    menu->close();

    const fs::path json = workDir / "报告.json";
    const fs::path text = workDir / "report.txt";
    ASSERT_TRUE(panel->SaveReport(QString::fromStdString(json.u8string())));
    ASSERT_TRUE(panel->SaveReport(QString::fromStdString(text.u8string())));
    std::ifstream jsonIn(json);
    EXPECT_EQ(nlohmann::json::parse(jsonIn), ReportJson(panel->LastReport()));
    std::ifstream textIn(text);
    const std::string saved((std::istreambuf_iterator<char>(textIn)), {});
    EXPECT_EQ(saved, ReportText(panel->LastReport()));
}

// The upload is offered once a check has read a document that names a support server; the
// dialog that follows gives the code or the reason, and never blocks the window.
TEST_F(ReportViewTest, UploadsTheReportWhereTheDocumentSaysAndShowsTheCode) {
    ServeFaultyWorld(R"(, "support": {"reportUrl": ")" + server.Url("/envcheck/reports") + R"("})");
    server.ServeBytes("/envcheck/reports", R"({"code":"K7QF3MZP"})", 201, "application/json");
    QMenu* menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().size(), 2) << "no check yet, nothing to upload";
    menu->close();
    Check();

    const auto upload = [&] {
        QMenu* menu = OpenMenu();
        EXPECT_NE(menu, nullptr);
        if (!menu)
            return static_cast<QMessageBox*>(nullptr);
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text();
        EXPECT_EQ(texts, (QStringList{"复制检测报告", "上传检测报告", "保存检测报告…"}));
        menu->actions()[1]->trigger();
        menu->close();
        QMessageBox* box = nullptr;
        for (int i = 0; i < 500 && !box; ++i) {
            QTest::qWait(10);
            box = panel->findChild<QMessageBox*>("uploadResultBox");
        }
        EXPECT_TRUE(box && box->isVisible() && !box->isModal());
        return box;
    };
    QMessageBox* box = upload();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "检测报告已上传，报告编号：K7QF-3MZP（请把编号告诉技术支持人员）");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.back().method, "POST");
    EXPECT_EQ(requests.back().body, ReportJsonText(panel->LastReport()));
    QPushButton* copy = nullptr;
    for (QAbstractButton* button : box->buttons())
        if (button->text() == "复制编号")
            copy = qobject_cast<QPushButton*>(button);
    ASSERT_NE(copy, nullptr);
    copy->click();
    EXPECT_EQ(QApplication::clipboard()->text(), "K7QF-3MZP");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    server.ServeStatus("/envcheck/reports", 500);
    box = upload();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "检测报告上传失败：技术支持服务器返回错误（HTTP 500）。");
    box->close();
}

} // namespace
