// The .NET Framework, bidding-tool and CA driver steps of a check run.
#include "engine_fixture.h"

#include "pe_fixture.h"
#include "probes/ie_settings.h"
#include "probes/registry.h"

#include <fstream>
#include <regex>

using namespace enginetest;
using Strings = std::vector<std::string>;
using nlohmann::json;

namespace {

// A record names the source file that wrote it, without its folder; which file that is may
// change when code moves.
void ExpectSourceFileName(const std::string& source) {
    EXPECT_TRUE(std::regex_match(source, std::regex("[A-Za-z0-9_]+\\.cpp"))) << source;
}

const char kNetKey[] =
    "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4";
const char kToolKey[] = "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\Tool\\shanxi";

void WriteAppConfig(const std::filesystem::path& file, const std::string& version) {
    std::ofstream(file) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<configuration>\n"
                           "  <appSettings>\n    <add key=\"Server\" value=\"x\"/>\n"
                           "    <add key=\"Version\" value=\""
                        << version << "\"/>\n  </appSettings>\n</configuration>\n";
}

class Checks : public EngineTest {};

TEST_F(Checks, NetFrameworkKeyDecidesTheNetResult) {
    PutRegString(kNetKey, "Install", "1");
    struct Case {
        const char* name;
        json framework; // null: the member is removed
        int expected;
    };
    const Case cases[] = {
        {"key present", {{"path", kNetKey}, {"url", "x"}}, 1},
        {"key missing", {{"path", std::string(kNetKey) + "\\Client"}}, -2},
        {"no backslash", {{"path", "HKEY_LOCAL_MACHINE"}}, -1},
        {"unknown root", {{"path", "计算机\\HKEY_NOWHERE\\SOFTWARE"}}, -2},
        {"root name in lower case", {{"path", "计算机\\hkey_local_machine\\SOFTWARE"}}, -2},
        {"path not text", {{"path", 4}}, -3},
        {"no path", {{"url", "x"}}, -3},
        {"no framework", nullptr, -3},
    };
    for (const auto& c : cases) {
        json doc = BaseDocument();
        if (c.framework.is_null())
            doc["shanxi"].erase("framework");
        else
            doc["shanxi"]["framework"] = c.framework;
        ServeDocument(doc);
        EXPECT_EQ(Run(0).Last("CheckNetFraSig"), c.expected) << c.name;
    }
}

TEST_F(Checks, EachRegionReadsItsOwnSection) {
    PutRegString(kNetKey, "Install", "1");
    json doc = BaseDocument();
    doc["shanxi"]["framework"]["path"] = "HKEY_LOCAL_MACHINE";        // -1
    doc["hebei"]["framework"]["path"] = kNetKey;                      // 1
    doc["neimeng"]["framework"]["path"] = "计算机\\HKEY_X\\SOFTWARE"; // -2
    ServeDocument(doc);
    EXPECT_EQ(Run(0, 0).Last("CheckNetFraSig"), -1);
    EXPECT_EQ(Run(0, 1).Last("CheckNetFraSig"), 1);
    EXPECT_EQ(Run(0, 2).Last("CheckNetFraSig"), -2);
    EXPECT_EQ(Run(0, 3).Last("CheckNetFraSig"), -3); // no such region
}

TEST_F(Checks, IeStepIsGoodOnlyWhenAllFourSettingsAre) {
    ServeDocument(BaseDocument());
    EXPECT_EQ(Run(0).Last("CheckIESig"), -1); // a fresh machine has none of the settings
    const std::string settings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    const std::string trust = settings + "\\ZoneMap\\Domains\\" + kPortalDomain;
    const DWORD everyVisit = 3, trusted = 2, protocols = 10912, webSockets = 100;
    ASSERT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, settings, "SyncMode5", &everyVisit), 1);
    ASSERT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, trust, "https", &trusted), 1);
    ASSERT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, settings, "SecureProtocols", &protocols), 1);
    EXPECT_EQ(Run(0).Last("CheckIESig"), -1); // three of four
    ASSERT_EQ(RegSetDwordValue(HKEY_LOCAL_MACHINE,
                               "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main",
                               "MaximumWebSocketConnections", &webSockets),
              1);
    EXPECT_EQ(Run(0).Last("CheckIESig"), 1);
}

TEST_F(Checks, ToolVersionComesFromTheConfigFileInTheInstallFolder) {
    const auto toolDir = machine.Native("C:\\Program Files\\Quelda\\tool.exe").parent_path();
    std::filesystem::create_directories(toolDir);
    std::ofstream(toolDir / "tool.exe") << "MZ";
    WriteAppConfig(toolDir / "tool.exe.config", "1.0.0");
    struct Case {
        const char* name;
        const char* location; // registry value; nullptr: value absent
        const char* fileVersion;
        int expected;
    };
    const Case cases[] = {
        {"value names the folder", "C:\\Program Files\\Quelda", "1.0.0", 1},
        {"value names the executable", "C:\\Program Files\\Quelda\\tool.exe", "1.0.0", 1},
        {"vanished folder, config in its parent", "C:\\Program Files\\Quelda\\old", "1.0.0", 1},
        {"vanished folder", "C:\\Program Files\\Gone\\old", "1.0.0", -3},
        {"value absent", nullptr, "1.0.0", -2},
        {"shorter expected version", "C:\\Program Files\\Quelda", "1.0", -4},
        {"case differs", "C:\\Program Files\\Quelda", "1.0.0-RC", -4},
    };
    for (const auto& c : cases) {
        if (c.location)
            PutRegString(kToolKey, "InstallDir", c.location);
        else
            PutRegString(kToolKey, "Other", "x");
        json doc = BaseDocument();
        doc["shanxi"]["tool"]["fileVersion"] = c.fileVersion;
        if (!c.location)
            doc["shanxi"]["tool"]["key"] = "Missing";
        ServeDocument(doc);
        EXPECT_EQ(Run(0).Last("CheckToolVerSig"), c.expected) << c.name;
    }
}

TEST_F(Checks, ToolVersionMismatchWritesOneRecordExpectedFirst) {
    const auto dir = machine.Native("C:\\Tool\\x").parent_path();
    PutRegString(kToolKey, "InstallDir", "C:\\Tool");
    WriteAppConfig(dir / "tool.exe.config", "1.0.0");
    json doc = BaseDocument();
    doc["shanxi"]["tool"]["fileVersion"] = "1.0";
    ServeDocument(doc);
    EXPECT_EQ(Run(0).Last("CheckToolVerSig"), -4);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "fileVer=1.0 ,verStr = 1.0.0");
    ExpectSourceFileName(records[0].source);

    WriteAppConfig(dir / "tool.exe.config", "1.0.0 ");
    doc["shanxi"]["tool"]["fileVersion"] = "1.0.0";
    ServeDocument(doc);
    EXPECT_EQ(Run(0).Last("CheckToolVerSig"), -4); // trailing blank is not trimmed
}

TEST_F(Checks, ToolDocumentFaults) {
    struct Case {
        const char* name;
        const char* member;
        json value; // null: the member is removed
        int expected;
    };
    const Case cases[] = {
        {"single backslash path", "path", "HKEY_LOCAL_MACHINE\\SOFTWARE", -1},
        {"no key member", "key", nullptr, -3},
        {"file name not text", "fileName", json::array(), -3},
    };
    for (const auto& c : cases) {
        json doc = BaseDocument();
        if (c.value.is_null())
            doc["shanxi"]["tool"].erase(c.member);
        else
            doc["shanxi"]["tool"][c.member] = c.value;
        ServeDocument(doc);
        EXPECT_EQ(Run(0).Last("CheckToolVerSig"), c.expected) << c.name;
    }
    json doc = BaseDocument();
    doc["shanxi"].erase("tool");
    ServeDocument(doc);
    EXPECT_EQ(Run(0).Last("CheckToolVerSig"), -3);
    EXPECT_TRUE(Messages().empty());
}

class CaCheck : public EngineTest {
  protected:
    int CheckRegion(int region, const json& drivers) {
        json doc = BaseDocument();
        doc[std::vector<std::string>{"shanxi", "hebei", "neimeng"}[region]]["driver"] = drivers;
        ServeDocument(doc);
        return Run(0, region).Last("CheckCAVerSig");
    }
};

TEST_F(CaCheck, MatchingDriversAndTheSkfLibrary) {
    const json a = InstalledDriver("a.dll", "1.2.3.4", "2023-10-12 09:30");
    const json b = InstalledDriver("b.dll", "10.0.19041.1", "2024-01-02 23:59");
    EXPECT_EQ(CheckRegion(0, json::array({a, b})), 1);
    EXPECT_EQ(CheckRegion(0, json::array()), 1);
    EXPECT_EQ(CheckRegion(1, json()), 1); // no driver list at all

    std::ofstream(machine.Native(kSkfDll)) << "x";
    EXPECT_EQ(CheckRegion(0, json::array({a, b})), -5);
    EXPECT_EQ(CheckRegion(2, json::array()), -5);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(CaCheck, FirstMismatchDecidesWithOneRecordNamingIt) {
    std::ofstream(machine.Native(kSkfDll)) << "x"; // not looked at after a failure
    const json a = InstalledDriver("a.dll", "1.2.3.4", "2023-10-12 09:30");
    json b = InstalledDriver("b.dll", "2.0.0.0", "2023-10-12 09:30");
    b["fileVersion"] = "2.0.0.1";
    EXPECT_EQ(CheckRegion(0, json::array({a, b, b})), -4);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    const std::string dir =
        machine.Native("C:\\Program Files\\CA\\b.dll-dir\\x").parent_path().u8string();
    const long long t = UnixFromUtc8("2023-10-12 09:30") - 8 * 3600; // the probes' time scale
    EXPECT_EQ(records[0].message,
              "webfileVer=2.0.0.1 ,verStr = 2.0.0.0,webFileTime=" + std::to_string(t) +
                  ",updateTime=" + std::to_string(t) + ",path:" + dir + ",file:b.dll");
    ExpectSourceFileName(records[0].source);
}

TEST_F(CaCheck, OneMinuteLaterIsAMismatch) {
    json a = InstalledDriver("a.dll", "1.2.3.4", "2023-10-12 09:31");
    a["fileModifyDtm"] = "2023-10-12 09:30";
    EXPECT_EQ(CheckRegion(0, json::array({a})), -4);
    a["fileModifyDtm"] = "2023-10-12 9:31"; // same minute, written differently
    EXPECT_EQ(CheckRegion(0, json::array({a})), 1);
}

TEST_F(CaCheck, QuotedLocationIsUnquotedOnlyForNeimeng) {
    json a = InstalledDriver("drv.exe", "3.1.0.0", "2023-05-06 07:08");
    PutRegString(a["path"], "InstallPath", "\"C:\\Program Files\\CA\\drv.exe-dir\\drv.exe\"");
    EXPECT_EQ(CheckRegion(2, json::array({a})), 1);
    EXPECT_EQ(CheckRegion(0, json::array({a})), -3);
    EXPECT_EQ(CheckRegion(1, json::array({a})), -3);
}

TEST_F(CaCheck, FailureRecordsDifferByRegion) {
    const json good = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    json split = good;
    split["path"] = "HKEY_LOCAL_MACHINE";
    json unread = good;
    unread["key"] = "Nope";
    json nofile = good;
    nofile["fileName"] = "missing.dll";
    const std::string dir =
        machine.Native("C:\\Program Files\\CA\\a.dll-dir\\x").parent_path().u8string();
    const std::string regPath = good["path"];
    struct Case {
        int region;
        json entry;
        int expected;
        Strings records;
    };
    const Case cases[] = {
        {0, split, -1, {}},
        {1, split, -1, {"RegGetStrValue regPath=HKEY_LOCAL_MACHINE,ret=-1 "}},
        {2, split, -1, {"reg=HKEY_LOCAL_MACHINE "}},
        {0, unread, -2, {"RegGetStrValue regPath=" + regPath + ",ret=-2 "}},
        {1, unread, -2, {"RegGetStrValue regPath=" + regPath + ",key:Nope,ret=-2 "}},
        {2, unread, -2, {"reg=" + regPath + " ,key = Nope"}},
        {0, nofile, -3, {"filePath=" + dir + ",fileName=missing.dll "}},
        {1, nofile, -3, {"filePath=" + dir + ",fileName=missing.dll "}},
        {2, nofile, -3, {"filePath=" + dir + " ,key = missing.dll"}},
    };
    std::size_t seen = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(CheckRegion(c.region, json::array({good, c.entry, good})), c.expected)
            << c.region << " " << c.entry.dump();
        const Strings all = Messages();
        EXPECT_EQ(Strings(all.begin() + static_cast<long>(seen), all.end()), c.records)
            << c.region << " " << c.entry.dump();
        seen = all.size();
    }
}

TEST_F(CaCheck, MissingMemberIsAnExceptionRecord) {
    std::ofstream(machine.Native(kSkfDll)) << "x";
    json a = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    a.erase("fileModifyDtm");
    EXPECT_EQ(CheckRegion(0, json::array({a})), -3);
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("exception=", 0), 0u) << messages[0];
    EXPECT_EQ(messages[0].back(), ' ');
    EXPECT_EQ(CheckRegion(0, json::array({"not an object"})), -3);
}

TEST_F(CaCheck, DriverObjectIsNotReadEntryByEntry) {
    json split = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    split["path"] = "HKEY_LOCAL_MACHINE";
    json unread = InstalledDriver("b.dll", "1.0.0.0", "2023-10-12 09:30");
    unread["key"] = "Nope";
    // Only an array is a driver list; an object is as unreadable as a string.
    EXPECT_EQ(CheckRegion(0, json{{"z", split}, {"a", unread}}), -3);
    EXPECT_EQ(CheckRegion(0, json{{"a", InstalledDriver("c.dll", "1.0.0.0", "2023-10-12 09:30")}}),
              -3);
}

} // namespace
