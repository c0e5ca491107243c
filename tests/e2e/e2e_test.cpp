// Check -> one-click repair -> automatic re-check, with nothing replaced: the main window
// as main() builds it, the configuration server as an administrator runs it, the example
// document, and the demo installers installing into a demo machine folder.
#include "app/mainwindow.h"
#include "nginx_server.h"
#include "panel/centerwidget.h"
#include "probes/registry.h"
#include "temp_machine.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSource = QUELDA_SOURCE_DIR;
const fs::path kBin = QUELDA_BIN_DIR;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

const char kBidderSid[] = "S-1-5-21-1000-1000-1000-1001";
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The installers and the document come from quelda-confserver, or from nginx serving what
// `quelda-confserver --export` wrote, as an operator's web server would. "twoAccounts": an
// administrator elevated the tool for the bidder who is logged on; the IE faults are in the
// bidder's settings, the administrator's own are in order.
class EndToEnd : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        previousDir_ = fs::current_path();
        workDir_ = machine_.dir().parent_path() / (machine_.dir().filename().string() + "-work");
        fs::create_directories(workDir_);
        fs::copy(kSource / "image", workDir_ / "image", fs::copy_options::recursive);
        fs::copy_file(kSource / "app" / "dist" / "openIE.bat", workDir_ / "openIE.bat");

        // The installers the tool starts find quelda-reg and quelda-mkpe through QUELDA_BIN.
        qputenv("QUELDA_BIN", QByteArray::fromStdString(kBin.string()));
        QStringList options = {"--force", QString::fromStdString(machine_.dir().string())};
        if (TwoAccounts())
            options.prepend("--two-accounts");
        QProcess prepare;
        prepare.start(QString::fromStdString((kSource / "examples" / "make-demo-machine").string()),
                      options);
        ASSERT_TRUE(prepare.waitForFinished(60000));
        ASSERT_EQ(prepare.exitCode(), 0) << prepare.readAllStandardError().toStdString();

        if (GetParam() == "nginx")
            StartNginx();
        else
            StartConfServer();
        if (HasFatalFailure())
            return;

        std::ofstream(workDir_ / "config.json")
            << R"({"mainCfg": {"topTitle": "Quelda运行环境检测工具", "ipPort": ")" << ipPort_
            << R"(", "url": "/envcheck/config.json", "width": 960, "high": 720}})";
        fs::current_path(workDir_);
    }

    void TearDown() override {
        fs::current_path(previousDir_);
        server_.terminate();
        server_.waitForFinished(5000);
        nginx_.Stop();
        std::error_code ec;
        fs::remove_all(workDir_, ec);
    }

    void StartConfServer() {
        server_.setProgram(QString::fromStdString((kBin / "quelda-confserver").string()));
        server_.setArguments(
            {"--port", "0", "--files",
             QString::fromStdString((kSource / "examples" / "installers").string()),
             QString::fromStdString((kSource / "examples" / "server-config.json").string())});
        server_.setProcessChannelMode(QProcess::SeparateChannels);
        server_.start();
        ASSERT_TRUE(server_.waitForStarted(10000));
        std::string first;
        for (int i = 0; i < 100 && first.find('\n') == std::string::npos; ++i) {
            server_.waitForReadyRead(100);
            first += server_.readAllStandardOutput().toStdString();
        }
        std::smatch m;
        ASSERT_TRUE(std::regex_search(first, m, std::regex("listening on http://([0-9.]+:[0-9]+)")))
            << "server said: " << first << server_.readAllStandardError().toStdString();
        ipPort_ = m[1];
    }

    void StartNginx() {
        const int port = testnet::NginxServer::FreePort();
        const fs::path site = workDir_ / "site";
        QProcess exporter;
        exporter.start(
            QString::fromStdString((kBin / "quelda-confserver").string()),
            {"--export", QString::fromStdString(site.string()), "--base-url",
             QString::fromStdString("http://127.0.0.1:" + std::to_string(port)), "--files",
             QString::fromStdString((kSource / "examples" / "installers").string()),
             QString::fromStdString((kSource / "examples" / "server-config.json").string())});
        ASSERT_TRUE(exporter.waitForFinished(30000));
        ASSERT_EQ(exporter.exitCode(), 0) << exporter.readAllStandardError().toStdString();
        std::string error;
        ASSERT_TRUE(nginx_.Start(site, workDir_ / "nginx", port, error)) << error;
        ipPort_ = nginx_.ipPort();
    }

    // The main window as main() builds it. It is never destroyed: its destructor ends the
    // process, as the program's does.
    MainWindow* OpenWindow() {
        auto* window = new MainWindow();
        window->InitWindow();
        window->show();
        return window;
    }

    std::string Installs() const { return ReadFile(machine_.dir() / "installs.log"); }
    static bool TwoAccounts() { return GetParam() == "twoAccounts"; }

    TempMachine machine_;
    fs::path workDir_;
    fs::path previousDir_;
    QProcess server_;
    testnet::NginxServer nginx_;
    std::string ipPort_;
};

// Waits for the next FinishCheckSig and returns its two counts.
std::pair<int, int> NextSummary(QSignalSpy& spy, int timeoutMs) {
    int before = spy.count();
    if (!QTest::qWaitFor([&] { return spy.count() > before; }, timeoutMs))
        return {-100, -100};
    const QList<QVariant> args = spy.at(before);
    return {args.at(0).toInt(), args.at(1).toInt()};
}

TEST_P(EndToEnd, CheckFindsEveryFaultRepairFixesThemAndTheRecheckIsAllGreen) {
    MainWindow* window = OpenWindow();
    auto* panel = window->findChild<centerWidget*>();
    ASSERT_NE(panel, nullptr);
    auto* checkButton = window->findChild<QPushButton*>("checkButton");
    auto* repairButton = window->findChild<QPushButton*>("repairButton");
    auto* tip = window->findChild<QLabel*>("tipLabel");
    ASSERT_TRUE(checkButton && repairButton && tip);

    QSignalSpy summaries(panel, &centerWidget::FinishCheckSig);
    QSignalSpy repairs(panel, &centerWidget::FinishRepaireSig);

    // The demo machine has a fault in every row: IE, .NET, the tool (outdated) and the CA
    // driver (outdated); three of them need an installer.
    QTest::mouseClick(checkButton, Qt::LeftButton);
    EXPECT_EQ(NextSummary(summaries, 20000), std::make_pair(4, 3));
    EXPECT_EQ(tip->text(), QString("本次检测发现4个待修复项,3个控件需手动下载安装"));
    ASSERT_TRUE(repairButton->isVisible());
    EXPECT_EQ(repairButton->text(), QString("一键修复"));
    EXPECT_TRUE(Installs().empty());
    // The IE row says whose settings it checked.
    const std::string whose = TwoAccounts()
                                  ? std::string("检测的是当前登录用户 QUELDA-PC\\bidder 的设置（"
                                                "HKEY_USERS\\") +
                                        kBidderSid + "）"
                                  : "检测的是当前登录用户 QUELDA-PC\\user 的设置";
    auto* ieStatus = window->findChild<QLabel*>("ieStatusLabel");
    ASSERT_NE(ieStatus, nullptr);
    // The record arrives just after the summary.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !ieStatus->toolTip().isEmpty(); }, 10000));
    QTextDocument tooltip; // rich text, with its spaces made non-breaking
    tooltip.setHtml(ieStatus->toolTip());
    const std::string tooltipText = tooltip.toPlainText().toStdString();
    EXPECT_NE(tooltipText.find(whose), std::string::npos) << tooltipText;

    // One click repairs the IE settings, runs each installer once and checks again.
    QTest::mouseClick(repairButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return repairs.count() == 1; }, 60000));
    EXPECT_EQ(NextSummary(summaries, 20000), std::make_pair(0, 0));
    EXPECT_EQ(tip->text(), QString("恭喜您，您的运行环境一切正常，请放心使用"));
    EXPECT_FALSE(repairButton->isVisible());
    EXPECT_TRUE(checkButton->isEnabled());

    const std::vector<std::pair<const char*, const char*>> rows = {
        {"netStatusLabel", "连接服务器成功"},
        {"ieStatusLabel", "IE浏览器配置检测正常"},
        {"netFraStatusLabel", ".net framework 4.0已安装"},
        {"toolStatusLabel", "投标工具安装正常"},
        {"caStatusLabel", "CA驱动版本安装正常"},
    };
    for (const auto& [name, text] : rows) {
        auto* label = window->findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), QString(text)) << name;
        EXPECT_EQ(label->styleSheet(), QString("color: green;")) << name;
    }
    for (const char* name : {"netFraButton", "ieButton", "toolButton", "caButton"})
        EXPECT_FALSE(window->findChild<QPushButton*>(name)->isVisible()) << name;

    // Every installer of the region ran exactly once.
    std::vector<std::string> installs = Lines(Installs());
    EXPECT_EQ(installs.size(), 4u) << Installs();
    for (const char* installer : {"dotnetfx40 ", "bidtool ", "QdCaDriver.dll ", "QdSkfApi.dll "}) {
        int runs = 0;
        for (const auto& line : installs)
            runs += line.find(installer) != std::string::npos;
        EXPECT_EQ(runs, 1) << installer << " in\n" << Installs();
    }

    // The repair wrote the settings of the user who is logged on.
    const std::string userRoot = TwoAccounts() ? std::string(kBidderSid) + "\\" : std::string();
    const HKEY root = TwoAccounts() ? HKEY_USERS : HKEY_CURRENT_USER;
    DWORD value = 0;
    EXPECT_EQ(RegGetDwordValue(root, userRoot + kInternetSettings, "SecureProtocols", value), 1);
    EXPECT_EQ(value, 10912u);
    EXPECT_EQ(RegGetDwordValue(root, userRoot + kInternetSettings, "SyncMode5", value), 1);
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(RegKeyExists(root, userRoot + kInternetSettings + "\\ZoneMap\\Domains\\" +
                                     "ebid.quelda.com"),
              1);

    // The log holds what the check and the repair had to say, and nothing else.
    const fs::path logFile =
        workDir_ / "logs" /
        ("queldatool_" + QDate::currentDate().toString("yyyy-MM-dd").toStdString() + ".txt");
    // Records are matched by their message alone, so that moving code to another source file
    // changes nothing here; the source is kept for the failure messages.
    struct Record {
        std::string source, message;
    };
    std::vector<Record> records;
    const std::regex record(R"(^\[\d\d:\d\d:\d\d [+-]\d\d:\d\d\] \[source (\S+)\] \[line \d+\] )"
                            R"(\[thread \d+\] (.*)\r$)");
    for (const auto& line : Lines(ReadFile(logFile))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line;
        records.push_back({m[1].str(), m[2].str()});
    }
    const std::vector<std::regex> expected = {
        // The program's start: where its log is.
        std::regex(R"(^log folder .*logs \(the working folder's logs\)$)"),
        // The demo's program has no document keys, and says what that means.
        std::regex(R"(^no document keys: this program accepts unsigned server documents)"),
        // Each check names the system: the demo machine's Windows 11, whose Edge has IE mode
        // off until the IE repair turns it on.
        std::regex(R"(^windows build=22631 edition=Professional bits=64 )"
                   R"(ieRetired=1 edge=120\.0\.2210\.91 ieMode=PolicyOff$)"),
        std::regex(R"(^windows build=22631 .* ieMode=Ready$)"),
        // The first check: the outdated tool and CA driver.
        std::regex(R"(^fileVer=3\.2\.1\.0 ,verStr = 3\.1\.0\.0$)"),
        std::regex(R"(^webfileVer=2\.1\.0\.8 ,verStr = 2\.0\.5\.3,.*file:QdCaDriver\.dll)"),
        // The IE repair: every probe failed, every fix succeeded.
        std::regex(R"(^CheckIESaveVerCfg failed, ret=-2)"),
        std::regex(R"(^CheckIETrustCfg failed, ret=-1)"),
        std::regex(R"(^CheckIESslCfg failed, ret=-1)"),
        std::regex(R"(^CheckIEMaxConCfg failed, ret=-2)"),
    };
    for (const auto& want : expected) {
        int hits = 0;
        for (const auto& r : records)
            hits += std::regex_search(r.message, want);
        EXPECT_EQ(hits, 1) << "log records matching the expectation: " << hits;
    }
    // With two accounts the check, the repair and the re-check each say whose settings.
    const std::regex whoseLine(R"(^settings of the logged-on user QUELDA-PC\\bidder )"
                               R"(under HKEY_USERS\\S-1-5-21-1000-1000-1000-1001, not of the )"
                               R"(program's user$)");
    int whoseLines = 0;
    for (const auto& r : records)
        whoseLines += std::regex_search(r.message, whoseLine);
    EXPECT_EQ(whoseLines, TwoAccounts() ? 3 : 0);
    for (const auto& r : records) {
        bool known = std::regex_search(r.message, whoseLine);
        for (const auto& want : expected)
            known = known || std::regex_search(r.message, want);
        EXPECT_TRUE(known) << "unexpected log record: " << r.source << ": " << r.message;
    }
}

// The repair without a window, as a managed fleet's remediation runs it: the program's own
// process on the demo machine, its exit statuses, its steps, and the installers started with
// the entries' silentArgs.
class HeadlessRepair : public EndToEnd {
  protected:
    struct Run {
        int status = -1;
        std::string out;
    };
    Run Program(const QStringList& args) {
        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(workDir_.string()));
        program.start(QString::fromStdString((kBin / "quelda-envcheck").string()), args);
        Run run;
        if (!program.waitForFinished(120000))
            return run;
        run.status = program.exitCode();
        run.out = program.readAllStandardOutput().toStdString();
        return run;
    }
    void ChooseExitCodes(const std::string& lines) {
        std::ofstream(machine_.dir() / "installer-exit-codes.txt") << lines;
    }
};

TEST_P(HeadlessRepair, ExitStatusesFollowTheInstallersAndTheRecheck) {
    const fs::path report = workDir_ / "report.json";
    EXPECT_EQ(Program({"--check", "--report", "r.json"}).status, 1);

    // The .NET Framework's installer is cancelled; the rest repairs.
    ChooseExitCodes("1602\n");
    Run run = Program({"--repair", "--report", "report.json"});
    EXPECT_EQ(run.status, 4) << run.out;
    EXPECT_NE(run.out.find("检测完成：4 项需要修复"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("修复 IE浏览器配置检测："), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("安装已取消"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("重新检测完成：1 项仍需修复"), std::string::npos) << run.out;
    const nlohmann::json first = nlohmann::json::parse(ReadFile(report));
    EXPECT_EQ(first["exitCode"], 1);
    EXPECT_EQ(first["rows"][1]["install"], "安装已取消");
    EXPECT_EQ(first["rows"][1]["exitCode"], 1602);

    // Installed, but Windows must restart to finish it.
    ChooseExitCodes("3010\n");
    run = Program({"--repair", "--report", "report.json"});
    EXPECT_EQ(run.status, 3) << run.out;
    EXPECT_NE(run.out.find("重新检测完成：全部正常"), std::string::npos) << run.out;

    // Nothing left to repair.
    run = Program({"--repair", "--report", "report.json"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("检测完成：全部正常"), std::string::npos) << run.out;
    EXPECT_EQ(Program({"--check", "--report", "r.json"}).status, 0);

    // Each installer got its entry's silentArgs.
    const std::string args = ReadFile(machine_.dir() / "installer-args.log");
    for (const char* line : {"dotnetfx40 args:/q /norestart", "bidtool args:/S",
                             "QdCaDriver.dll args:/S", "QdSkfApi.dll args:/S"})
        EXPECT_NE(args.find(line), std::string::npos) << line << " in\n" << args;
}

// A management agent runs the repair as SYSTEM with nobody logged on: the machine's settings
// and installers are repaired, SYSTEM's own IE settings are not written for anyone.
TEST_P(HeadlessRepair, AsSystemWithoutADesktopTheUserSettingsAreLeftAndSaidSo) {
    std::ofstream(machine_.dir() / "accounts.ini")
        << "program = S-1-5-18 NT AUTHORITY\\SYSTEM\ndesktop =\n";
    const Run run = Program({"--repair", "--report", "report.json"});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("没有用户登录桌面，未修复IE浏览器的用户设置"), std::string::npos)
        << run.out;
    const nlohmann::json report = nlohmann::json::parse(ReadFile(workDir_ / "report.json"));
    EXPECT_LT(report["rows"][2]["code"].get<int>(), 0) << "the IE row stays faulty";
    for (int row : {1, 3, 4})
        EXPECT_GE(report["rows"][row]["code"].get<int>(), 0) << report["rows"][row].dump();
    DWORD value = 0;
    EXPECT_NE(RegGetDwordValue(HKEY_USERS, std::string("S-1-5-18\\") + kInternetSettings,
                               "SecureProtocols", value),
              1)
        << "SYSTEM's own settings were written";
}

INSTANTIATE_TEST_SUITE_P(Demo, HeadlessRepair, ::testing::Values("confserver"),
                         [](const auto& info) { return info.param; });

INSTANTIATE_TEST_SUITE_P(Servers, EndToEnd, ::testing::Values("confserver", "nginx", "twoAccounts"),
                         [](const auto& info) { return info.param; });

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // Ends as the program does when its window closes, without destroying static objects
    // that a window's last worker may still be using.
    std::fflush(nullptr);
    _exit(status);
}
