#include "panel_fixture.h"
#include "probes/ie_settings.h"
#include "probes/registry.h"

#include <fstream>
#include <sstream>

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
