// The record of a check run: what each row expected and found, for the example document on
// the demo workstation (everything wrong, then everything in order), and hostile values.
#include "engine_fixture.h"

#include "engine/report/report_json.h"
#include "engine/report/report_shape.h"
#include "engine/report/report_text.h"
#include "pe_fixture.h"
#include "probes/edge_install.h"
#include "probes/edge_policy.h"
#include "probes/iemode_site_list.h"
#include "probes/registry.h"
#include "registry_calls.h"
#include "windows_test_env.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>

namespace fs = std::filesystem;
using nlohmann::json;

namespace enginetest {
namespace {

const char kInet[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kInetWhere[] =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\";
const char kPolicy[] = "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main";

json Fact(const std::string& name, json entry, const std::string& where, json expected, json found,
          bool ok, const std::string& note = "") {
    return {{"name", name},   {"entry", entry}, {"where", where}, {"expected", expected},
            {"found", found}, {"ok", ok},       {"note", note}};
}

class ReportTest : public EngineTest {
  protected:
    // One check run; the report as the signal carried it. `afterCaRow` runs on the worker as
    // soon as the CA row's result has left it.
    CheckReport Check(int region = 0, std::function<void()> afterCaRow = {}) {
        CheckThread thread(0, region, server.ipPort(), kDocPath, "", 0, logger);
        CheckReport signalled;
        int reports = 0;
        if (afterCaRow)
            QObject::connect(
                &thread, &CheckThread::CheckCAVerSig, &thread, [&](int) { afterCaRow(); },
                Qt::DirectConnection);
        QObject::connect(
            &thread, &CheckThread::CheckReportSig, &thread,
            [&](const CheckReport& r) {
                signalled = r;
                ++reports;
            },
            Qt::DirectConnection);
        EXPECT_TRUE(RunToEnd(thread, 60000));
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(ReportJson(signalled), ReportJson(thread.Report()));
        return signalled;
    }

    void ServeExample() {
        std::ifstream in(QUELDA_EXAMPLES_DIR "/server-config.json");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string base = server.Url("");
        for (std::size_t at; (at = text.find("{{BASE}}")) != std::string::npos;)
            text.replace(at, 8, base.substr(0, base.size() - (base.back() == '/' ? 1 : 0)));
        server.ServeGbk(kDocPath, text);
    }

    void PutDword(HKEY root, const std::string& key, const char* name, DWORD value) {
        ASSERT_EQ(RegSetDwordValue(root, key, name, &value), 1);
    }

    // The demo workstation: IE settings wrong, .NET 3.5 only, bidding tool 3.1.0.0, CA
    // driver 2.0.5.3 of 2023-06-01 09:00, SKF middleware missing.
    void MakeDemoMachine() {
        PutDword(HKEY_CURRENT_USER, kInet, "SyncMode5", 0);
        PutDword(HKEY_CURRENT_USER, kInet, "SecureProtocols", 0x0A80);
        PutDword(HKEY_LOCAL_MACHINE, kPolicy, "MaximumWebSocketConnections", 128);
        PutRegString(
            "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5",
            "Version", "3.5.30729.4926");
        PutToolVersion("3.1.0.0");
        PutRegString("计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\BidTool", "InstallPath",
                     "C:\\Program Files\\Quelda\\BidTool");
        PutDriverFile("C:\\Program Files\\Quelda\\CaDriver", "QdCaDriver.dll", "2.0.5.3",
                      "2023-06-01 09:00");
        PutRegString("计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\CaDriver", "InstallPath",
                     "C:\\Program Files\\Quelda\\CaDriver");
    }

    // What the demo installers and the IE repair leave behind.
    void RepairDemoMachine() {
        PutDword(HKEY_CURRENT_USER, kInet, "SyncMode5", 3);
        PutDword(HKEY_CURRENT_USER, kInet, "SecureProtocols", 0x2AA0);
        PutDword(HKEY_LOCAL_MACHINE, kPolicy, "MaximumWebSocketConnections", 100);
        PutDword(HKEY_CURRENT_USER, std::string(kInet) + "\\ZoneMap\\Domains\\ebid.quelda.com",
                 "https", 2);
        PutRegString(
            "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
            "Install", "1");
        PutToolVersion("3.2.1.0");
        PutDriverFile("C:\\Program Files\\Quelda\\CaDriver", "QdCaDriver.dll", "2.1.0.8",
                      "2024-03-15 10:20");
        PutDriverFile("C:\\Program Files\\Quelda\\SkfMiddleware", "QdSkfApi.dll", "1.6.3.2",
                      "2024-01-08 16:45");
        PutRegString("计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\SkfMiddleware", "InstallDir",
                     "C:\\Program Files\\Quelda\\SkfMiddleware");
    }

    void PutToolVersion(const std::string& version) {
        const fs::path file =
            machine.Native("C:\\Program Files\\Quelda\\BidTool\\QueldaBid.exe.config");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "<configuration><appSettings><add key=\"Version\" value=\""
                            << version << "\"/></appSettings></configuration>";
    }

    std::string Native(const std::string& windowsPath) const {
        return machine.Native(windowsPath).u8string();
    }

    // The rows of the example document's shanxi section on the demo machine.
    json ExpectedRows(bool inOrder) {
        const std::string tool = "C:\\Program Files\\Quelda\\BidTool";
        const std::string ca = "C:\\Program Files\\Quelda\\CaDriver";
        const std::string skf = "C:\\Program Files\\Quelda\\SkfMiddleware";
        const std::string reg = "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\";
        const json null;
        json caFacts = {
            Fact("registryValue", 0, reg + "CaDriver\\InstallPath", null, ca, true),
            Fact("installFolder", 0, "", null, Native(ca), true),
            Fact("version", 0, Native(ca + "\\QdCaDriver.dll"), "2.1.0.8",
                 inOrder ? "2.1.0.8" : "2.0.5.3", inOrder),
            Fact("fileTime", 0, Native(ca + "\\QdCaDriver.dll"), "2024-03-15 10:20",
                 inOrder ? "2024-03-15 10:20" : "2023-06-01 09:00", inOrder),
        };
        if (inOrder) {
            for (const json& f :
                 {Fact("registryValue", 1, reg + "SkfMiddleware\\InstallDir", null, skf, true),
                  Fact("installFolder", 1, "", null, Native(skf), true),
                  Fact("version", 1, Native(skf + "\\QdSkfApi.dll"), "1.6.3.2", "1.6.3.2", true),
                  Fact("fileTime", 1, Native(skf + "\\QdSkfApi.dll"), "2024-01-08 16:45",
                       "2024-01-08 16:45", true)})
                caFacts.push_back(f);
        } else {
            caFacts.push_back(
                Fact("registryValue", 1, reg + "SkfMiddleware\\InstallDir", null, null, false));
        }
        caFacts.push_back(Fact("skfDll", null, Native(kSkfDll), "absent", "absent", true));

        const std::string doc = server.Url(kDocPath);
        return json::array({
            {{"item", "network"},
             {"code", 1},
             {"text", "连接服务器成功"},
             {"install", null},
             {"exitCode", null},
             {"facts",
              {Fact("server", null, server.ipPort(), null, server.ipPort(), true),
               Fact("response", null, doc, "HTTP 200", "HTTP 200", true),
               Fact("signature", null, "", null, null, true,
                    "服务器配置未签名（本程序未配置验证公钥，接受未签名的配置）"),
               Fact("document", null, "", "JSON", std::to_string(documentBytes), true),
               Fact("region", null, "shanxi", "object", "object", true)}}},
            {{"item", "dotnet"},
             {"code", inOrder ? 1 : -2},
             {"text", inOrder ? ".net framework 4.0已安装" : ".net framework 4.0未安装"},
             {"install", null},
             {"exitCode", null},
             {"facts",
              {Fact("registryKey", null,
                    "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework "
                    "Setup\\NDP\\v4\\Full",
                    "present", inOrder ? "present" : "absent", inOrder)}}},
            {{"item", "ie"},
             {"code", inOrder ? 1 : -1},
             {"text", inOrder ? "IE浏览器配置检测正常" : "IE浏览器配置检测异常"},
             {"install", null},
             {"exitCode", null},
             {"facts",
              {Fact("account", null, "HKEY_CURRENT_USER", null, "QUELDA-PC\\user", true,
                    "检测的是当前登录用户 QUELDA-PC\\user 的设置"),
               Fact("SyncMode5", null, std::string(kInetWhere) + "SyncMode5", "3",
                    inOrder ? "3" : "0", inOrder),
               Fact("ZoneMap", null, std::string(kInetWhere) + "ZoneMap\\Domains\\ebid.quelda.com",
                    "present", inOrder ? "present" : "absent", inOrder),
               Fact("SecureProtocols", null, std::string(kInetWhere) + "SecureProtocols",
                    "0x00002AA0", inOrder ? "0x00002AA0" : "0x00000A80", inOrder),
               Fact("MaximumWebSocketConnections", null,
                    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Internet "
                    "Explorer\\Main\\MaximumWebSocketConnections",
                    "100", inOrder ? "100" : "128", inOrder)}}},
            {{"item", "tool"},
             {"code", inOrder ? 1 : -4},
             {"text", inOrder ? "投标工具安装正常" : "投标工具安装版本不正确"},
             {"install", null},
             {"exitCode", null},
             {"facts",
              {Fact("registryValue", null, reg + "BidTool\\InstallPath", null, tool, true),
               Fact("installFolder", null, "", null, Native(tool), true),
               Fact("version", null, Native(tool + "\\QueldaBid.exe.config"), "3.2.1.0",
                    inOrder ? "3.2.1.0" : "3.1.0.0", inOrder)}}},
            {{"item", "ca"},
             {"code", inOrder ? 1 : -4},
             {"text", inOrder ? "CA驱动版本安装正常" : "CA驱动版本不正确"},
             {"install", null},
             {"exitCode", null},
             {"facts", caFacts}},
        });
    }

    std::size_t documentBytes = 0;
};

TEST_F(ReportTest, ExampleDocumentOnTheDemoMachineThenRepaired) {
    ServeExample();
    MakeDemoMachine();
    for (const bool inOrder : {false, true}) {
        SCOPED_TRACE(inOrder ? "in order" : "demo machine");
        if (inOrder)
            RepairDemoMachine();
        const json report = ReportJson(Check());
        documentBytes = std::stoul(report["rows"][0]["facts"][3]["found"].get<std::string>());
        EXPECT_GT(documentBytes, 1000u);
        EXPECT_EQ(report["version"], 1);
        EXPECT_TRUE(std::regex_match(report["time"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
            << report["time"];
        EXPECT_FALSE(report["toolVersion"].get<std::string>().empty());
        EXPECT_EQ(report["region"], "shanxi");
        EXPECT_EQ(report["server"], server.ipPort());
        EXPECT_EQ(report["document"], kDocPath);
        EXPECT_EQ(report["exitCode"], inOrder ? 0 : 1);
        std::string reason;
        EXPECT_TRUE(ValidReportJson(report, reason)) << reason; // what the support server takes
        const json expected = ExpectedRows(inOrder);
        ASSERT_EQ(report["rows"].size(), expected.size());
        for (std::size_t row = 0; row < expected.size(); ++row) {
            SCOPED_TRACE(expected[row]["item"].get<std::string>());
            const json& got = report["rows"][row];
            for (const char* field : {"item", "code", "text", "install", "exitCode"})
                EXPECT_EQ(got[field], expected[row][field]) << field;
            ASSERT_EQ(got["facts"].size(), expected[row]["facts"].size()) << got["facts"].dump(1);
            for (std::size_t f = 0; f < got["facts"].size(); ++f)
                EXPECT_EQ(got["facts"][f], expected[row]["facts"][f]);
        }
    }
}

// The CA row's facts are what its check saw, not a later look: a driver file or location
// that changes as soon as the row's result has left does not show in the report, whichever
// way the row went. A check after the change sees it.
TEST_F(ReportTest, CaFactsAreWhatTheCheckSaw) {
    const std::string aDir = "C:\\Program Files\\CA\\a.dll-dir";
    const std::string bDir = "C:\\Program Files\\CA\\b.dll-dir";
    auto fact = [](const CheckReport& report, const std::string& name, int entry) {
        for (const CheckFact& f : report.rows[kCaRow].facts)
            if (f.name == name && f.entry == entry)
                return f;
        ADD_FAILURE() << "no fact " << name << " of entry " << entry;
        return CheckFact();
    };
    auto allOk = [](const CheckReport& report) {
        return std::all_of(report.rows[kCaRow].facts.begin(), report.rows[kCaRow].facts.end(),
                           [](const CheckFact& f) { return f.ok; });
    };
    json doc = BaseDocument();
    const json a = InstalledDriver("a.dll", "1.2.3.4", "2023-10-12 09:30");
    json b = InstalledDriver("b.dll", "2.0.0.0", "2023-10-12 09:30");
    doc["shanxi"]["driver"] = json::array({a, b});
    ServeDocument(doc);

    {
        SCOPED_TRACE("in order at the check, then changed");
        const CheckReport report = Check(0, [&] {
            PutDriverFile(aDir, "a.dll", "9.9.9.9", "2023-10-12 09:30");
            PutRegString(b["path"], "InstallPath", "C:\\Moved");
        });
        EXPECT_EQ(report.rows[kCaRow].code, 1);
        EXPECT_TRUE(allOk(report));
        EXPECT_EQ(fact(report, "version", 0).found, "1.2.3.4");
        EXPECT_EQ(fact(report, "registryValue", 1).found, bDir);
        EXPECT_EQ(fact(report, "version", 1).found, "2.0.0.0");

        const CheckReport later = Check();
        EXPECT_EQ(later.rows[kCaRow].code, -4);
        EXPECT_EQ(fact(later, "version", 0).found, "9.9.9.9");
        EXPECT_EQ(fact(later, "registryValue", 1).found, "C:\\Moved");
        EXPECT_EQ(fact(later, "version", 1).note, "文件不存在");
    }
    {
        SCOPED_TRACE("out of order at the check, then repaired");
        PutDriverFile(aDir, "a.dll", "1.2.3.4", "2023-10-12 09:30");
        PutRegString(b["path"], "InstallPath", bDir);
        b["fileVersion"] = "2.0.0.1";
        doc["shanxi"]["driver"] = json::array({a, b});
        ServeDocument(doc);
        const CheckReport report =
            Check(0, [&] { PutDriverFile(bDir, "b.dll", "2.0.0.1", "2023-10-12 09:30"); });
        EXPECT_EQ(report.rows[kCaRow].code, -4);
        EXPECT_EQ(report.rows[kCaRow].text, "CA驱动版本不正确");
        EXPECT_FALSE(allOk(report));
        EXPECT_EQ(fact(report, "version", 1).found, "2.0.0.0");
        EXPECT_FALSE(fact(report, "version", 1).ok);

        const CheckReport later = Check();
        EXPECT_EQ(later.rows[kCaRow].code, 1);
        EXPECT_TRUE(allOk(later));
    }
}

// The network row says what went wrong, and the rows that were not checked say so.
TEST_F(ReportTest, UnusableServerAnswers) {
    server.ServeGbk("/not-json", "{\"shanxi\": ");
    const struct {
        std::string url;
        int netCode;
        const char* lastFact;
        json found;
    } cases[] = {{"/missing", -1, "response", "HTTP 404"}, {"/not-json", -2, "document", "11"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        CheckThread thread(0, 0, server.ipPort(), c.url, "", 0, logger);
        ASSERT_TRUE(RunToEnd(thread, 60000));
        const json report = ReportJson(thread.Report());
        EXPECT_EQ(report["exitCode"], 2);
        EXPECT_EQ(report["rows"][0]["code"], c.netCode);
        EXPECT_EQ(report["rows"][0]["facts"].back()["name"], c.lastFact);
        EXPECT_EQ(report["rows"][0]["facts"].back()["found"], c.found);
        EXPECT_FALSE(report["rows"][0]["facts"].back()["ok"].get<bool>());
        for (int row = 1; row < 5; ++row)
            EXPECT_TRUE(report["rows"][row]["code"].is_null());
    }
    // A document without the selected region cannot be checked against: exit 2 as well.
    json doc = BaseDocument();
    doc.erase("hebei");
    ServeDocument(doc);
    const CheckReport report = Check(1);
    EXPECT_EQ(*report.rows[kNetworkRow].code, 1);
    EXPECT_EQ(ReportExitCode(report), 2);
}

#ifndef _WIN32
// A registry store that does not parse fails every registry row; the record and the log
// say why instead of leaving only red rows.
TEST_F(ReportTest, UnreadableRegistryIsNamedInEveryRegistryRow) {
    ServeDocument(BaseDocument());
    std::ofstream(machine.dir() / "registry.reg") << "Windows Registry Editor Version 5.00\n\n"
                                                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\n\"x\"=";
    const CheckReport report = Check();
    for (int row : {kDotNetRow, kIERow, kToolRow, kCaRow}) {
        SCOPED_TRACE(row);
        ASSERT_FALSE(report.rows[row].facts.empty());
        EXPECT_EQ(report.rows[row].facts[0].name, "registryStore");
        EXPECT_EQ(RowDetailLines(report.rows[row], 120)[0],
                  "注册表无法读取（HKEY_LOCAL_MACHINE\\SOFTWARE），Windows 错误 1009");
    }
    const std::vector<std::string> messages = Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "registry cannot be read, error=1009"),
              messages.end());
}
#endif

// On a 64-bit Windows a document's location is read in the 64-bit view and, only where it is
// missing there, in the 32-bit view (a 32-bit installer's key); the .NET key in the
// program's own view, then the other one. The record names the view a fallback found.
TEST_F(ReportTest, LocationsMissingInOneRegistryViewAreFoundInTheOther) {
    if (!UseA64BitWindows())
        GTEST_SKIP() << "a 32-bit Windows has a single registry view";
    const struct {
        const char* region;
        const char* tool32; // the tool's InstallDir per view; nullptr: none
        const char* tool64;
        int toolCode;
        const char* toolNote;
        REGSAM netView; // where the .NET key is; 0: nowhere
        int netCode;
        const char* netNote;
    } cases[] = {
        {"shanxi", "C:\\Tools\\good", nullptr, 1, "在 32 位注册表视图（WOW6432Node）中找到",
         KEY_WOW64_64KEY, 1, "在 64 位注册表视图中找到"},
        {"hebei", "C:\\Tools\\good", "C:\\Tools\\old", -4, "", KEY_WOW64_32KEY, 1, ""},
        {"neimeng", nullptr, nullptr, -2, "64 位和 32 位注册表视图中均未找到", 0, -2,
         "32 位和 64 位注册表视图中均未找到"},
    };
    for (const auto& [dir, version] : {std::pair{"good", "1.0.0"}, {"old", "0.9.0"}}) {
        const fs::path file =
            machine.Native(std::string("C:\\Tools\\") + dir + "\\tool.exe.config");
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "<configuration><appSettings><add key=\"Version\" value=\""
                            << version << "\"/></appSettings></configuration>";
    }
    json doc = BaseDocument();
    auto put = [](REGSAM view, const std::string& subKey, const char* name, const char* text) {
        HKEY key = CreateKey(HKEY_LOCAL_MACHINE, subKey, KEY_WRITE | view);
        ASSERT_NE(key, nullptr);
        if (text)
            SetValue(key, name, REG_SZ, std::string(text) + '\0');
        RegCloseKey(key);
    };
    for (const auto& c : cases) {
        const std::string region = c.region;
        const std::string toolKey = "SOFTWARE\\Quelda\\Tool\\" + region;
        for (const auto& [view, text] :
             {std::pair{KEY_WOW64_32KEY, c.tool32}, {KEY_WOW64_64KEY, c.tool64}})
            if (text)
                put(view, toolKey, "InstallDir", text);
        const std::string netKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\" + region;
        doc[region]["framework"]["path"] = "计算机\\HKEY_LOCAL_MACHINE\\" + netKey;
        if (c.netView)
            put(c.netView, netKey, "Install", "1");
    }
    // A CA component registered by a 32-bit installer (no view flag).
    doc["shanxi"]["driver"] =
        json::array({InstalledDriver("qd.dll", "2.1.0.8", "2024-03-15 10:20")});
    ServeDocument(doc);

    for (int region = 0; region < 3; ++region) {
        const auto& c = cases[region];
        SCOPED_TRACE(c.region);
        const CheckReport report = Check(region);
        EXPECT_EQ(report.rows[kToolRow].code, c.toolCode);
        ASSERT_FALSE(report.rows[kToolRow].facts.empty());
        EXPECT_EQ(report.rows[kToolRow].facts[0].name, "registryValue");
        EXPECT_EQ(report.rows[kToolRow].facts[0].note, c.toolNote);
        EXPECT_EQ(report.rows[kDotNetRow].code, c.netCode);
        ASSERT_EQ(report.rows[kDotNetRow].facts.size(), 1u);
        EXPECT_EQ(report.rows[kDotNetRow].facts[0].note, c.netNote);
        if (region == 0) {
            EXPECT_EQ(report.rows[kCaRow].code, 1);
        }
    }
}

// Values from the document and the machine travel as data: the JSON parses back to the
// very same strings; the tooltip form is escaped and cut, the file form never cut.
TEST_F(ReportTest, HostileValuesStayValidJsonAndReadable) {
    const std::string longName(5000, 'x');
    const std::string quoted = "say \"hi\"\\ \x01\t\n</b><b>粗体";
    const std::string location = "C:\\Program Files\\\"Quelda\"\\工具";
    json doc = BaseDocument();
    doc["shanxi"]["tool"]["fileName"] = longName + ".config";
    doc["shanxi"]["tool"]["fileVersion"] = quoted;
    PutRegString(doc["shanxi"]["tool"]["path"], "InstallDir", location);
    ServeDocument(doc);

    const CheckReport report = Check();
    const json parsed = json::parse(ReportJsonText(report));
    std::string reason;
    EXPECT_TRUE(ValidReportJson(parsed, reason)) << reason;
    const json& facts = parsed["rows"][kToolRow]["facts"];
    ASSERT_EQ(facts.size(), 3u) << facts.dump(1);
    EXPECT_EQ(facts[0]["found"], location);
    EXPECT_EQ(facts[2]["expected"], quoted);
    EXPECT_NE(facts[2]["where"].get<std::string>().find(longName + ".config"), std::string::npos);

    const std::vector<std::string> lines = RowDetailLines(report.rows[kToolRow], 120);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].find('\n'), std::string::npos);
    EXPECT_NE(lines[2].find("say \"hi\"\\ \\x01\\t\\n</b><b>粗体"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("…"), std::string::npos);
    EXPECT_LT(lines[2].size(), 600u);
    EXPECT_NE(ReportText(report).find(longName), std::string::npos);

    // Bytes that are not UTF-8 (as a GBK value read without conversion would be).
    CheckReport raw = report;
    raw.rows[kToolRow].facts[0].found = std::string("\xB9\xA4\xBE\xDF\xff");
    const json back = json::parse(ReportJsonText(raw));
    EXPECT_EQ(back["rows"][kToolRow]["facts"][0]["found"], "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ReadableValue("\xB9\xA4 ok", 0), "\uFFFD\uFFFD ok");
}

// Windows 11 with Edge: the IE row needs Edge's IE mode for the portal and the region's
// ieSites; the report names the system and what IE mode lacks.
TEST_F(ReportTest, WhereIEIsRetiredTheRowNeedsEdgesIEMode) {
    RepairDemoMachine();
    const std::string current =
        "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    PutRegString(current, "CurrentBuildNumber", "22631");
    PutRegString(current, "EditionID", "Professional");
    PutRegString(current, "InstallationType", "Client");
    const std::string edge = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";
    WritePe(machine.Native(edge), "120.0.2210.91");
    PutRegString(std::string("计算机\\HKEY_LOCAL_MACHINE\\") + kEdgeAppPathsKey, "", edge);
    json doc = EngineTest::BaseDocument();
    doc["shanxi"]["ieSites"] = {"intra.example:8080"};
    doc["hebei"]["ieSites"] = {"http://intra.example/"};
    ServeDocument(doc);

    auto ieMode = [](const CheckReport& report) {
        for (const CheckFact& fact : report.rows[kIERow].facts)
            if (fact.name == "ieMode")
                return fact.note;
        return std::string("(none)");
    };
    CheckReport report = Check();
    EXPECT_EQ(report.rows[kIERow].code, -1);
    EXPECT_EQ(ieMode(report), "Edge 的 IE 模式未为交易平台开启");
    EXPECT_EQ(ReportJson(report)["system"], json({{"build", 22631},
                                                  {"edition", "Professional"},
                                                  {"bits", 32},
                                                  {"ieRetired", true},
                                                  {"edge", "120.0.2210.91"},
                                                  {"signature", "unsigned"}}));
    EXPECT_EQ(ReportJson(report)["version"], 1);
    ASSERT_EQ(SystemLines().size(), 1u); // once per check
    EXPECT_EQ(SystemLines().back(), "windows build=22631 edition=Professional bits=32 ieRetired=1 "
                                    "edge=120.0.2210.91 ieMode=PolicyOff");

    bool changed = false;
    ASSERT_EQ(SetIEModePolicies(changed), 1);
    ASSERT_EQ(WriteSiteList(kSiteListPath, {"ebid.quelda.com"}), 1);
    report = Check();
    EXPECT_EQ(report.rows[kIERow].code, -1);
    EXPECT_EQ(ieMode(report), "Edge 的 IE 模式站点列表缺少 intra.example:8080");

    ASSERT_EQ(WriteSiteList(kSiteListPath, report.ieHosts), 1);
    EXPECT_EQ(Check().rows[kIERow].code, 1);
    // hebei's ieSites fail validation: only the portal counts, and the log says so.
    EXPECT_EQ(Check(1).rows[kIERow].code, 1);
    bool logged = false;
    for (const std::string& message : Messages())
        logged = logged || message.rfind("hebei.ieSites ignored: [0] must be a host", 0) == 0;
    EXPECT_TRUE(logged);

    ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, kEdgeAppPathsKey, "", "C:\\gone\\msedge.exe"), 1);
    report = Check();
    EXPECT_EQ(report.rows[kIERow].code, -1);
    EXPECT_EQ(ieMode(report), "未找到 Microsoft Edge");
    EXPECT_TRUE(ReportJson(report)["system"]["edge"].is_null());
    EXPECT_NE(ReportText(report).find("未找到 Microsoft Edge（C:\\gone\\msedge.exe）"),
              std::string::npos);
}

// An administrator elevated the program for the standard user who is logged on: the check
// reads that user's settings, not the administrator's, and says whose they are. Without a
// desktop it reads the program's own user's, and the log says so.
TEST_F(ReportTest, TheLoggedOnUsersSettingsAreCheckedNotTheElevatingAdministrators) {
    const std::string admin = "S-1-5-21-1000-1000-1000-500";
    const std::string bidder = "S-1-5-21-1000-1000-1000-1001";
    const fs::path accounts = machine.dir() / "accounts.ini";
    std::ofstream(accounts) << "program = " << admin << " QUELDA-PC\\Administrator\n"
                            << "desktop = " << bidder << " QUELDA-PC\\bidder\n";
    ServeDocument(EngineTest::BaseDocument());
    RepairDemoMachine(); // every IE setting in order, in the administrator's hive

    CheckReport report = Check();
    EXPECT_EQ(report.rows[kIERow].code, -1);
    const std::vector<CheckFact>& facts = report.rows[kIERow].facts;
    ASSERT_GE(facts.size(), 2u);
    EXPECT_EQ(facts[0].name, "account");
    EXPECT_EQ(facts[0].where, "HKEY_USERS\\" + bidder);
    EXPECT_EQ(facts[0].found, "QUELDA-PC\\bidder");
    EXPECT_EQ(facts[0].note, "检测的是当前登录用户 QUELDA-PC\\bidder 的设置");
    EXPECT_EQ(facts[1].where, "HKEY_USERS\\" + bidder + "\\" + kInet + "\\SyncMode5");
    EXPECT_FALSE(facts[1].found);
    EXPECT_NE(ReportText(report).find(
                  "检测的是当前登录用户 QUELDA-PC\\bidder 的设置（HKEY_USERS\\" + bidder + "）"),
              std::string::npos);
    const std::vector<std::string> messages = Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "settings of the logged-on user QUELDA-PC\\bidder under HKEY_USERS\\" +
                            bidder + ", not of the program's user"),
              messages.end());

    const std::string inet = bidder + "\\" + kInet;
    PutDword(HKEY_USERS, inet, "SyncMode5", 3);
    PutDword(HKEY_USERS, inet, "SecureProtocols", 0x2AA0);
    PutDword(HKEY_USERS, inet + "\\ZoneMap\\Domains\\ebid.quelda.com", "https", 2);
    EXPECT_EQ(Check().rows[kIERow].code, 1);

    std::ofstream(accounts) << "program = " << admin << " QUELDA-PC\\Administrator\n"
                            << "desktop =\n";
    PutDword(HKEY_CURRENT_USER, kInet, "SyncMode5", 0); // only the administrator's is wrong
    report = Check();
    EXPECT_EQ(report.rows[kIERow].code, -1);
    EXPECT_EQ(report.rows[kIERow].facts[0].note,
              "未找到桌面的登录用户，检测的是本程序的运行账户 QUELDA-PC\\Administrator 的设置");
    const std::vector<std::string> after = Messages();
    EXPECT_NE(std::find(after.begin(), after.end(),
                        "no desktop shell window, settings of the program's own user "
                        "QUELDA-PC\\Administrator"),
              after.end());
}

} // namespace
} // namespace enginetest
