// quelda-envcheck --check: the command line, the report it writes and its exit status.
#include "app/check_options.h"
#include "app/headless_check.h"
#include "file_bytes.h"
#include "probes/registry.h"
#include "scoped_work_dir.h"
#include "temp_machine.h"
#include "test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

class HeadlessCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        doc["shanxi"] = {{"framework", {{"path", "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\NetFx4"}}},
                         {"tool",
                          {{"path", "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Tool"},
                           {"key", "Dir"},
                           {"fileName", "t.config"},
                           {"fileVersion", "2.0"}}},
                         {"driver", json::array()}};
        server.ServeGbk("/cfg", doc.dump());
        WriteConfig(true);
        // Everything in order but the .NET Framework.
        const std::string inet = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
        const std::pair<std::string, DWORD> user[] = {{"SyncMode5", 3},
                                                      {"SecureProtocols", 0x2AA0}};
        for (const auto& [name, value] : user)
            ASSERT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, inet, name, &value), 1);
        const DWORD https = 2, sockets = 100;
        ASSERT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, inet + "\\ZoneMap\\Domains\\ebid.quelda.com",
                                   "https", &https),
                  1);
        ASSERT_EQ(RegSetDwordValue(HKEY_LOCAL_MACHINE,
                                   "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main",
                                   "MaximumWebSocketConnections", &sockets),
                  1);
        ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tool", "Dir", "C:\\Tool"), 1);
        const fs::path config = machine.Native("C:\\Tool\\t.config");
        fs::create_directories(config.parent_path());
        std::ofstream(config) << "<configuration><appSettings><add key=\"Version\" "
                                 "value=\"2.0\"/></appSettings></configuration>";
    }

    void WriteConfig(bool complete) {
        json main = {{"ipPort", server.ipPort()}, {"url", "/cfg"}};
        if (complete)
            main.update({{"topTitle", "t"}, {"width", 960}, {"high", 720}});
        std::ofstream("config.json") << json{{"mainCfg", main}}.dump();
    }

    void InstallNetFx() {
        ASSERT_EQ(RegSetStrValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\NetFx4", "Install", "1"), 1);
    }

    ScopedWorkDir work;
    TempMachine machine;
    testnet::TestServer server;
    json doc;
};

TEST_F(HeadlessCheckTest, ExitStatusSaysWhatTheReportSays) {
    const fs::path report = work.dir() / "report.json";
    EXPECT_EQ(RunHeadlessCheck({"--check", "--report", report.string()}), 1);
    json parsed = json::parse(ReadFile(report));
    EXPECT_EQ(parsed["exitCode"], 1);
    EXPECT_EQ(parsed["rows"][1]["code"], -2);

    InstallNetFx();
    EXPECT_EQ(RunHeadlessCheck({"--check", "--report=" + report.string()}), 0);
    EXPECT_EQ(json::parse(ReadFile(report))["exitCode"], 0);

    // The region decides which section is read; this document has no "neimeng".
    EXPECT_EQ(RunHeadlessCheck({"--check", "--region", "neimeng", "--report", report.string()}), 2);
    EXPECT_EQ(json::parse(ReadFile(report))["region"], "neimeng");

    server.Stop();
    const fs::path text = work.dir() / "report.txt";
    EXPECT_EQ(RunHeadlessCheck({"--check", "--report", text.string()}), 2);
    EXPECT_NE(ReadFile(text).find("【网络连接检测】请检查网络连接是否正常"), std::string::npos);
}

// A program without keys takes any document: its log, its report and the network row's
// record say so.
TEST_F(HeadlessCheckTest, AProgramWithoutKeysSaysItAcceptsUnsignedDocuments) {
    const fs::path report = work.dir() / "report.json";
    EXPECT_EQ(RunHeadlessCheck({"--check", "--report", report.string()}), 1);
    const json parsed = json::parse(ReadFile(report));
    EXPECT_EQ(parsed["system"]["signature"], "unsigned");
    bool recorded = false;
    for (const json& fact : parsed["rows"][0]["facts"])
        if (fact["name"] == "signature")
            recorded =
                fact["note"].get<std::string>().find("接受未签名的配置") != std::string::npos;
    EXPECT_TRUE(recorded) << parsed["rows"][0].dump();
    std::string log;
    for (const auto& e : fs::recursive_directory_iterator(work.dir()))
        if (e.is_regular_file() && e.path().extension() != ".json")
            log += ReadFile(e.path());
    EXPECT_NE(log.find("this program accepts unsigned server documents"), std::string::npos) << log;
}

TEST_F(HeadlessCheckTest, ReportOnStandardOutputKeepsConfigMessagesOff) {
    InstallNetFx();
    WriteConfig(false);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = RunHeadlessCheck({"--check"});
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(json::parse(out)["exitCode"], 0);
    EXPECT_NE(err.find("json parse error:key 'topTitle' not found in mainCfg"), std::string::npos);

    // Without config.json the defaults hold (no server): still a report, and status 2.
    fs::remove("config.json");
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunHeadlessCheck({"--check", "--format", "text"}), 2);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("服务器地址无效"), std::string::npos);
}

TEST_F(HeadlessCheckTest, BadCommandLinesExit64WithUsage) {
    const std::vector<std::vector<std::string>> lines = {
        {"--check", "--region", "mars"},
        {"--check", "--format", "xml"},
        {"--check", "--report"},
        {"--check", "--bogus"},
        {"--check", "extra"},
        {"--check", "--region", "hebei", "--region=shanxi"},
        {"--check", "--report="},
        {"--check", "--update"},
        {"--update", "--report", "r.json"},
        {"--update", "--upload"},
        {"--repair", "--check"},
        {"--repair", "--update"},
    };
    for (const auto& line : lines) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunHeadlessCheck(line), 64) << line.back();
        EXPECT_NE(testing::internal::GetCapturedStderr().find(
                      "usage: quelda-envcheck --check [--region shanxi|hebei|neimeng] "
                      "[--report FILE|-]\n"),
                  std::string::npos);
    }
    EXPECT_FALSE(WantsHeadlessCheck({"--region", "hebei"}));
    EXPECT_TRUE(WantsHeadlessCheck({"--update"}));
    EXPECT_TRUE(WantsHeadlessCheck({"--repair", "--upload"}));
}

// --update without a window: nothing offered by an unsigned document is nothing to do; no
// document is the server's fault, as for --check.
TEST_F(HeadlessCheckTest, UpdateWithoutAnOfferDoesNothingAndWithoutADocumentExits2) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunHeadlessCheck({"--update"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "没有可安装的新版本\n");
    server.Stop();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunHeadlessCheck({"--update", "--region", "shanxi"}), 2);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not be fetched"),
              std::string::npos);
}

TEST_F(HeadlessCheckTest, UnwritableReportIsNotSuccess) {
    InstallNetFx();
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        RunHeadlessCheck({"--check", "--report", (work.dir() / "no/such/dir/r.json").string()}),
        74);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not be written"),
              std::string::npos);
}

TEST_F(HeadlessCheckTest, UploadPrintsTheCodeAndExits75WhenItFails) {
    const fs::path report = work.dir() / "report.json";
    const auto run = [&](int expected, const char* out, const std::string& err) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunHeadlessCheck({"--check", "--upload", "--report", report.string()}), expected);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
        const std::string errText = testing::internal::GetCapturedStderr();
        EXPECT_NE(errText.find(err), std::string::npos) << errText;
        EXPECT_EQ(json::parse(ReadFile(report))["exitCode"], 1) << "the report is written first";
    };
    run(75, "", "names no usable support.reportUrl");

    doc["support"] = {{"reportUrl", server.Url("/envcheck/reports")}};
    server.ServeGbk("/cfg", doc.dump());
    server.ServeBytes("/envcheck/reports", R"({"code":"K7QF3MZP"})", 201, "application/json");
    run(1, "K7QF3MZP\n", "");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.back().path, "/envcheck/reports");
    EXPECT_EQ(requests.back().body, ReadFile(report));

    server.ServeStatus("/envcheck/reports", 500);
    run(75, "",
        "could not be uploaded to " + server.Url("/envcheck/reports") + ": HTTP status 500");
}

} // namespace
