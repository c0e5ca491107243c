// Uploading the JSON report to the support server named by the document, against a real
// local HTTP server.
#include "engine/upload/report_upload.h"
#include "engine/upload/upload_texts.h"
#include "test_server.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(ReportUploadUrl, TakesOnlyHttpAndHttpsUrlsWithAPath) {
    const struct {
        const char* doc;
        const char* url;
    } cases[] = {
        {R"({"support": {"reportUrl": "http://10.1.2.3:8090/envcheck/reports"}})",
         "http://10.1.2.3:8090/envcheck/reports"},
        {R"({"support": {"reportUrl": "http://support.example.cn/reports"}})",
         "http://support.example.cn/reports"},
        {R"({"support": {"reportUrl": "https://10.1.2.3/reports"}})", "https://10.1.2.3/reports"},
        {R"({"support": {"reportUrl": "https://10.1.2.3"}})", ""},
        {R"({"support": {"reportUrl": "ftp://10.1.2.3/reports"}})", ""},
        {R"({"support": {"reportUrl": "http://10.1.2.3:8090"}})", ""},
        {R"({"support": {"reportUrl": "http://10.1.2.3:99999/reports"}})", ""},
        {R"({"support": {"reportUrl": "http:///reports"}})", ""},
        {R"({"support": {"reportUrl": 8090}})", ""},
        {R"({"support": "http://10.1.2.3/reports"})", ""},
        {R"({"shanxi": {}})", ""},
        {"[]", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReportUploadUrl(nlohmann::json::parse(c.doc)), c.url) << c.doc;
}

TEST(UploadReport, SendsTheReportOnceAndAcceptsOnlyAReportCode) {
    testnet::TestServer server;
    const std::string report = "{\n  \"version\": 1,\n  \"region\": \"河北\"\n}\n";
    const struct {
        int status;
        std::string answer;
        int result;
        const char* code;
    } cases[] = {
        {201, R"({"code":"K7QF3MZP"})", kUploaded, "K7QF3MZP"},
        {200, R"({"code":"0123456789ABCDEF","x":1})", kUploadBadAnswer, ""},
        {201, R"({"code":"K7QF3MZU"})", kUploadBadAnswer, ""}, // U is not Crockford base32
        {201, R"({"code":"k7qf3mzp"})", kUploadBadAnswer, ""},
        {201, R"({"code":12345678})", kUploadBadAnswer, ""},
        {201, "<html>K7QF3MZP</html>", kUploadBadAnswer, ""},
        {201, std::string(5000, ' ') + R"({"code":"K7QF3MZP"})", kUploadBadAnswer, ""},
        {500, R"({"code":"K7QF3MZP"})", kUploadHttpStatus, ""},
        {413, "", kUploadHttpStatus, ""},
    };
    for (const auto& c : cases) {
        server.ServeBytes("/envcheck/reports", c.answer, c.status, "application/json");
        server.ClearRequests();
        UploadAnswer answer;
        EXPECT_EQ(UploadReport(server.Url("/envcheck/reports"), report, 2s, answer, nullptr),
                  c.result)
            << c.answer;
        EXPECT_EQ(answer.code, c.code);
        EXPECT_EQ(answer.status, c.status) << c.answer;
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << "no retry";
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(requests[0].body, report);
        EXPECT_EQ(requests[0].contentType, "application/json; charset=utf-8");
    }
    UploadAnswer answer;
    server.ServeBytes("/envcheck/reports", R"({"code":"K7QF3MZP"})", 201);
    ASSERT_EQ(UploadReport(server.Url("/envcheck/reports"), report, 2s, answer, nullptr),
              kUploaded);
    EXPECT_EQ(UploadSuccessText(answer.code),
              "检测报告已上传，报告编号：K7QF-3MZP（请把编号告诉技术支持人员）");
    server.ServeStatus("/envcheck/reports", 429);
    EXPECT_EQ(UploadReport(server.Url("/envcheck/reports"), report, 2s, answer, nullptr),
              kUploadHttpStatus);
    EXPECT_EQ(UploadFailureText(kUploadHttpStatus, answer),
              "检测报告上传失败：上传过于频繁，请稍后再试（HTTP 429）。");
}

TEST(UploadReport, GivesUpWhenNoAnswerComesWithinTheDeadline) {
    testnet::TestServer server;
    // A server that accepts the upload but answers one byte every 200 ms, for ever.
    server.ServeTrickle("/slow", 1000, 200ms);
    const std::string unused =
        "http://127.0.0.1:" + std::to_string(testnet::TestServer::UnusedPort());
    for (const std::string& url : {server.Url("/slow"), unused + "/reports"}) {
        const auto start = std::chrono::steady_clock::now();
        UploadAnswer answer;
        EXPECT_EQ(UploadReport(url, "{}", 600ms, answer, nullptr), kUploadNoAnswer) << url;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s) << url;
        EXPECT_EQ(answer.status, 0);
        EXPECT_FALSE(answer.why.empty());
        EXPECT_EQ(UploadFailureText(kUploadNoAnswer, answer),
                  "检测报告上传失败：技术支持服务器没有应答，请检查网络后重试。");
    }
    UploadAnswer answer;
    EXPECT_EQ(UploadReport("ftp://127.0.0.1/reports", "{}", 600ms, answer, nullptr), kUploadBadUrl);
}

} // namespace
