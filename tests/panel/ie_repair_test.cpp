#include "panel_fixture.h"
#include "pe_fixture.h"
#include "probes/edge_install.h"
#include "probes/edge_policy.h"
#include "probes/ie_settings.h"
#include "probes/iemode_site_list.h"
#include "probes/registry.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace {
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

void SetDword(HKEY root, const std::string& key, const char* name, DWORD value) {
    ASSERT_EQ(RegSetDwordValue(root, key, name, &value), 1) << name;
}

// Windows 11 (with IE's settings, not as the portal needs them), with Edge installed when
// `edge` is set.
void MakeWindows11(TempMachine& machine, bool edge) {
    SetDword(HKEY_CURRENT_USER, kInternetSettings, "SyncMode5", 0);
    const char current[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, current, "CurrentBuildNumber", "22631"), 1);
    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, current, "EditionID", "Core"), 1);
    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, current, "InstallationType", "Client"), 1);
    if (!edge)
        return;
    const char exe[] = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
    WritePe(machine.Native(exe), "120.0.2210.91");
    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, kEdgeAppPathsKey, "", exe), 1);
}

std::string ReadLogs(const std::filesystem::path& workDir) {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(workDir / "logs")) {
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        all += text.str();
    }
    return all;
}
} // namespace

TEST_F(PanelTest, IeRepairWithoutIeSettingsSaysIeIsMissing) {
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    Button("ieButton")->click();
    EXPECT_EQ(Label("ieStatusLabel")->text(), "当前电脑未安装IE浏览器");
    EXPECT_EQ(Label("ieStatusLabel")->styleSheet(), "color: red;");
    EXPECT_EQ(IconColour("ieIconLabel"), FileColour("check_err.png"));
    EXPECT_FALSE(Button("ieButton")->isHidden());
    const std::string log = ReadLogs(workDir);
    EXPECT_NE(log.find("CheckIESaveVerCfg failed, ret=-3"), std::string::npos) << log;
    EXPECT_NE(log.find("SetIESaveVerCfg failed, ret=-3"), std::string::npos) << log;
}

TEST_F(PanelTest, IeRepairWritesEveryWrongSetting) {
    SetDword(HKEY_CURRENT_USER, kInternetSettings, "SyncMode5", 1);
    SetDword(HKEY_CURRENT_USER, kInternetSettings, "SecureProtocols", 0x0A80);
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    panel->RepaireIECfg();
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置修复成功");
    EXPECT_EQ(Label("ieStatusLabel")->styleSheet(), "color: green;");
    EXPECT_EQ(IconColour("ieIconLabel"), FileColour("check_ok.png"));
    EXPECT_TRUE(Button("ieButton")->isHidden());
    EXPECT_EQ(CheckIESaveVerCfg() + CheckIETrustCfg() + CheckIESslCfg() + CheckIEMaxConCfg(), 4);
}

// With IE present, a setting that cannot be written makes the repair fail. The registry
// write is refused by capping the size of files this process may write.
TEST_F(PanelTest, IeRepairReportsSettingThatCannotBeWritten) {
    SetDword(HKEY_CURRENT_USER, kInternetSettings, "SyncMode5", 3);
    SetDword(HKEY_CURRENT_USER, kInternetSettings, "SecureProtocols", 0x2AA0);
    SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main",
             "MaximumWebSocketConnections", 100);
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = saved;
    capped.rlim_cur = std::filesystem::file_size(machine.dir() / "registry.reg");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
    panel->RepaireIECfg();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(CheckIETrustCfg(), -1);
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置修复失败");
    EXPECT_EQ(Label("ieStatusLabel")->styleSheet(), "color: red;");
    EXPECT_EQ(IconColour("ieIconLabel"), FileColour("check_err.png"));
    EXPECT_FALSE(Button("ieButton")->isHidden());
    const std::string log = ReadLogs(workDir);
    EXPECT_NE(log.find("CheckIETrustCfg failed, ret=-1"), std::string::npos) << log;
    EXPECT_NE(log.find("SetIETrustCfg failed, ret="), std::string::npos) << log;
    EXPECT_EQ(log.find("SaveVerCfg failed"), std::string::npos) << log;
}

TEST_F(PanelTest, IeRepairTurnsOnEdgesIEModeAndSaysSoOnce) {
    MakeWindows11(machine, true);
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    Button("ieButton")->click();
    const QString opened = "已开启 Edge 的 IE 模式，请关闭所有 Edge 窗口后重新打开交易平台";
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置修复成功");
    EXPECT_EQ(panel->notices, std::vector<QString>{opened});
    EXPECT_EQ(panel->LastReport().rows[kIERow].install, opened.toStdString());
    const IEModePolicy policy = ReadIEModePolicy();
    EXPECT_TRUE(policy.levelSet && policy.level == 1);
    EXPECT_EQ(policy.siteList, kSiteListUrl);
    DWORD delay = 0;
    EXPECT_EQ(RegGetDwordValue(HKEY_LOCAL_MACHINE, kEdgePolicyKey,
                               "DelayNavigationsForInitialSiteListDownload", delay),
              1);
    EXPECT_EQ(delay, 1u);
    SiteList list;
    ASSERT_TRUE(ReadSiteList(kSiteListPath, list));
    EXPECT_TRUE(SiteListHolds(list, {kPortalDomain}));
    // Nothing left to change: no second notice.
    panel->RepaireIECfg();
    EXPECT_EQ(panel->notices.size(), 1u);
}

TEST_F(PanelTest, IeRepairLeavesAnOrganisationsListAlone) {
    MakeWindows11(machine, true);
    const char list[] = "\\\\corp\\share\\sites.xml";
    ASSERT_EQ(RegSetStrValue(HKEY_CURRENT_USER, kEdgePolicyKey,
                             "InternetExplorerIntegrationSiteList", list),
              1);
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    panel->RepaireIECfg();
    EXPECT_EQ(Label("ieStatusLabel")->text(), "IE浏览器配置修复成功");
    EXPECT_TRUE(panel->notices.empty());
    EXPECT_EQ(ReadIEModePolicy().organisationList, list);
    EXPECT_FALSE(ReadIEModePolicy().levelSet);
    SiteList written;
    EXPECT_FALSE(ReadSiteList(kSiteListPath, written));
}

TEST_F(PanelTest, IeRepairWithoutEdgeWritesTheSettingsAndAsksForEdge) {
    MakeWindows11(machine, false);
    MakePanel();
    ReportCheck(1, -1, 1, 1, 1);
    panel->RepaireIECfg();
    EXPECT_EQ(Label("ieStatusLabel")->text(), "未找到 Microsoft Edge，请安装后重新检测");
    EXPECT_EQ(Label("ieStatusLabel")->styleSheet(), "color: red;");
    EXPECT_EQ(IconColour("ieIconLabel"), FileColour("check_err.png"));
    EXPECT_FALSE(Button("ieButton")->isHidden());
    EXPECT_EQ(CheckIESaveVerCfg() + CheckIETrustCfg() + CheckIESslCfg() + CheckIEMaxConCfg(), 4);
    EXPECT_FALSE(ReadIEModePolicy().levelSet);
    EXPECT_TRUE(panel->notices.empty());
}
