#include "engine_fixture.h"

#include <atomic>
#include <chrono>
#include <fstream>

using namespace enginetest;
using Strings = std::vector<std::string>;

namespace {

class NetworkCheck : public EngineTest {};

TEST_F(NetworkCheck, FailedFetchEndsTheCheckAfterTheNetworkSignal) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        int expected;
    };
    const Case cases[] = {
        {"not found", 404, "{}", -1},
        {"server error", 500, BaseDocument().dump(), -1},
        {"not JSON", 200, "<html>配置</html>", -2},
        {"empty body", 200, "", -2},
        {"truncated JSON", 200, "{\"shanxi\": {", -2},
    };
    for (const auto& c : cases) {
        server.ServeGbk(kDocPath, c.body, c.status);
        const SignalLog log = Run(0);
        EXPECT_EQ(log.Events(),
                  (Strings{"CheckStartSig(1)", "CheckNetSig(" + std::to_string(c.expected) + ")"}))
            << c.name;
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(NetworkCheck, UnreachableServerFailsWithinTheTimeouts) {
    const auto start = std::chrono::steady_clock::now();
    const SignalLog log =
        RunWith("127.0.0.1:" + std::to_string(testnet::TestServer::UnusedPort()), kDocPath, 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(log.Events(), (Strings{"CheckStartSig(1)", "CheckNetSig(-1)"}));
    EXPECT_LT(elapsed, std::chrono::milliseconds(6500));
}

TEST_F(NetworkCheck, AddressesTheClientMustNotUseFailWithoutARequest) {
    ServeDocument(BaseDocument());
    const std::string port = std::to_string(server.port());
    const std::string bad[] = {
        "gopher://127.0.0.1:" + port, "ftp://127.0.0.1:" + port,    "127.0.0.1:70000",
        "127.0.0.1:99999999999",      "127.0.0.1:" + port + "/cfg", "",
    };
    for (const auto& ipPort : bad) {
        const SignalLog log = RunWith(ipPort, kDocPath, 0);
        EXPECT_EQ(log.Events(), (Strings{"CheckStartSig(1)", "CheckNetSig(-1)"})) << ipPort;
    }
    EXPECT_TRUE(server.Requests().empty());

    const SignalLog log = RunWith("http://127.0.0.1:" + port, kDocPath, 0);
    EXPECT_EQ(log.Last("CheckNetSig"), 1);
    EXPECT_EQ(server.RequestCount(kDocPath), 1u);
}

TEST_F(NetworkCheck, SuccessfulFetchRunsTheFourChecksInOrder) {
    ServeDocument(BaseDocument());
    const SignalLog log = Run(0);
    const Strings events = log.Events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0], "CheckStartSig(1)");
    EXPECT_EQ(events[1], "CheckNetSig(1)");
    const char* order[] = {"CheckIESig(", "CheckNetFraSig(", "CheckToolVerSig(", "CheckCAVerSig("};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(events[2 + i].rfind(order[i], 0), 0u) << events[2 + i];
    EXPECT_TRUE(log.Values("UpdateProcess").empty());
}

TEST_F(NetworkCheck, UnknownModeEmitsNothingAndSendsNoRequest) {
    ServeDocument(BaseDocument());
    for (int mode : {-1, 6, 42})
        EXPECT_TRUE(Run(mode).Events().empty()) << mode;
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(NetworkCheck, InstallModesGoOnAfterAFailedFetch) {
    server.ServeStatus(kDocPath, 404);
    const SignalLog log = Run(2);
    EXPECT_EQ(log.Events().front(), "CheckNetSig(-1)");
    EXPECT_EQ(log.Last("DownloadToolSig"), -3); // no document: no `tool` member
}

TEST_F(NetworkCheck, GbkDocumentIsReadAsUnicode) {
    // Chinese registry path, value name, install folder, file name and version text: each
    // must survive GBK on the wire and reach the registry and files intact.
    nlohmann::json doc = BaseDocument();
    doc["shanxi"]["tool"] = {{"path", "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\投标工具"},
                             {"key", "安装目录"},
                             {"fileName", "投标工具.config"},
                             {"fileVersion", "版本 1.0"},
                             {"url", "http://127.0.0.1:1/x"}};
    ServeDocument(doc);
    PutRegString("计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\投标工具", "安装目录", "C:\\程序\\投标");
    const auto config = machine.Native("C:\\程序\\投标\\投标工具.config");
    std::ofstream(config) << "<?xml version=\"1.0\" encoding=\"utf-8\"?><configuration>"
                             "<appSettings><add key=\"Version\" value=\"版本 1.0\"/>"
                             "</appSettings></configuration>";
    EXPECT_EQ(Run(0).Last("CheckToolVerSig"), 1);

    doc["shanxi"]["tool"]["fileVersion"] = "版本 2.0";
    ServeDocument(doc);
    EXPECT_EQ(Run(0).Last("CheckToolVerSig"), -4);
    EXPECT_EQ(Messages(), (Strings{"fileVer=版本 2.0 ,verStr = 版本 1.0"}));
}

// A worker destroyed while its job still runs waits for the job's end instead of leaving
// its thread running over a destroyed object.
TEST(CheckThreadLifetime, DestroyingARunningWorkerWaitsForItsEnd) {
    auto jobEnded = std::make_shared<std::atomic<bool>>(false);
    auto thread = std::make_unique<CheckThread>(0, 0, "", "", "", 0, nullptr);
    // Without a context object both run on the worker; the first holds it inside its job.
    QObject::connect(thread.get(), &CheckThread::CheckNetSig, [](int) { QThread::msleep(300); });
    QObject::connect(thread.get(), &CheckThread::JobEndSig, [jobEnded] { *jobEnded = true; });
    thread->start();
    thread.reset();
    EXPECT_TRUE(*jobEnded);
}

} // namespace
