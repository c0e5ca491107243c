#include "panel/alert_protocol.h"
#include "panel_fixture.h"
#include "probes/registry.h"
#include "probes/textconv.h"

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
const std::string kDpiKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File "
                            "Execution Options\\" +
                            Utf8ToGbk("Quelda运行环境检测工具.exe");

std::string ReadStr(const std::string& key, const std::string& name = "") {
    std::string value;
    EXPECT_EQ(RegGetStrValue(HKEY_CLASSES_ROOT, key, name, value), 0) << key;
    return value;
}

std::string FileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

TEST_F(PanelTest, AlertProtocolRegisteredOnCleanMachine) {
    MakePanel();
    EXPECT_EQ(ReadStr("alert"), "URL:Alert Protocol");
    EXPECT_EQ(ReadStr("alert", "URL Protocol"), "");
    EXPECT_EQ(ReadStr("alert\\DefaultIcon"), "iexplore.exe,1");
    EXPECT_EQ(ReadStr("alert\\shell\\open\\command"),
              "\"C:\\Program Files\\alert\\openAlertLink.exe\" \"%1\"");
    DWORD dpi = 7;
    EXPECT_EQ(RegGetDwordValue(HKEY_LOCAL_MACHINE, kDpiKey, "dpiAwareness", dpi), 1);
    EXPECT_EQ(dpi, 0u);
    EXPECT_EQ(FileText(machine.Native(kAlertBatchFile)), FileText(workDir / "openIE.bat"));
    EXPECT_EQ(FileText(machine.Native(kAlertHandlerFile)), "MZ handler");
}

TEST_F(PanelTest, AlertProtocolRewritesOnlyWhatDiffers) {
    ASSERT_EQ(RegSetStrValue(HKEY_CLASSES_ROOT, "alert\\shell\\open\\command", "",
                             "cmd /c set m=%1 & \"C:\\Program Files\\alert\\openIE.bat\" "
                             "%%m%% & exit"),
              1);
    // Equal as read, though stored as text: left as it is.
    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, kDpiKey, "dpiAwareness", "0"), 1);
    std::ofstream(machine.Native(kAlertBatchFile)) << "kept";
    // An older handler is replaced; the batch file is only ever copied once.
    std::ofstream(machine.Native(kAlertHandlerFile)) << "MZ old handler";
    MakePanel();
    EXPECT_EQ(FileText(machine.Native(kAlertHandlerFile)), "MZ handler");
    EXPECT_EQ(ReadStr("alert\\shell\\open\\command"), kAlertCommand);
    DWORD dpi = 7;
    EXPECT_EQ(RegGetDwordValue(HKEY_LOCAL_MACHINE, kDpiKey, "dpiAwareness", dpi), 2);
    EXPECT_EQ(dpi, 0u);
    EXPECT_EQ(FileText(machine.Native(kAlertBatchFile)), "kept");
}

TEST_F(PanelTest, StartsWhenRegistryIsUnreadable) {
    std::ofstream(machine.dir() / "registry.reg") << "not a registry file\n[broken";
    MakePanel();
    EXPECT_EQ(FileText(machine.dir() / "registry.reg"), "not a registry file\n[broken");
    EXPECT_EQ(FileText(machine.Native(kAlertBatchFile)), FileText(workDir / "openIE.bat"));
}

TEST_F(PanelTest, StartsWhenBatchFileCannotBeCopied) {
    // A file where the folder should be: the folder cannot be created.
    const fs::path folder = machine.Native("C:\\Program Files\\alert");
    std::ofstream(folder) << "in the way";
    MakePanel();
    EXPECT_EQ(ReadStr("alert\\shell\\open\\command"), kAlertCommand);
    EXPECT_TRUE(fs::is_regular_file(folder));

    fs::remove(folder);
    fs::remove(workDir / "openIE.bat");
    EXPECT_FALSE(RegisterAlertUrlProtocol(workDir));
    EXPECT_FALSE(fs::exists(folder / "openIE.bat"));
}
