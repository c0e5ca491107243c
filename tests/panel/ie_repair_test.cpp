#include "panel_fixture.h"
#include "probes/ie_settings.h"
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
