// The built quelda-support as a child process: what it has acknowledged survives a restart
// and a kill -9 in the middle of a burst of uploads.
#include "child_process.h"
#include "report_samples.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

TEST(SupportBinaryTest, AcknowledgedReportsSurviveKillDuringABurstAndARestart) {
    const fs::path dir = fs::temp_directory_path() / ("support-bin-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::vector<std::string> argv = {(BinDir() / "quelda-support").string(),
                                           "--port",
                                           "0",
                                           "--behind-proxy",
                                           "--db",
                                           (dir / "s.sqlite").string(),
                                           "--token-file",
                                           (dir / "token").string()};
    std::vector<std::string> acknowledged;
    {
        Child server(argv);
        const int port = StartedPort(server);
        ASSERT_GT(port, 0) << server.Err();
        EXPECT_NE(server.Err().find("new access token"), std::string::npos);
        std::string created;
        std::ifstream(dir / "token") >> created;
        ASSERT_GE(created.size(), 24u);
        EXPECT_EQ(server.Err().find(created), std::string::npos) << "the token stays in its file";
        // Eight clients, each as a different address (the limit is per address), upload until
        // the server is killed under them.
        std::mutex mutex;
        std::atomic<bool> stop{false};
        std::vector<std::thread> clients;
        const std::string body = SampleReport().dump();
        for (int c = 0; c < 8; ++c)
            clients.emplace_back([&, c] {
                for (int i = 0; i < 30 && !stop; ++i) {
                    UploadResult up =
                        Upload(port, body, "10.0." + std::to_string(c) + "." + std::to_string(i));
                    if (up.status != 201)
                        continue;
                    std::lock_guard<std::mutex> lock(mutex);
                    acknowledged.push_back(up.code);
                }
            });
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (acknowledged.size() >= 60)
                    break;
            }
            std::this_thread::sleep_for(2ms);
        }
        server.Signal(SIGKILL);
        stop = true;
        for (std::thread& t : clients)
            t.join();
        server.Wait(5s);
    }
    ASSERT_GE(acknowledged.size(), 60u);

    Child again(argv);
    const int port = StartedPort(again);
    ASSERT_GT(port, 0) << again.Err();
    EXPECT_EQ(again.Err().find("new access token"), std::string::npos);
    std::string token;
    std::ifstream(dir / "token") >> token;
    httplib::Client client("127.0.0.1", port);
    const httplib::Headers bearer = {{"Authorization", "Bearer " + token}};
    int missing = 0;
    for (const std::string& code : acknowledged) {
        auto res = client.Get(("/support/r/" + code).c_str(), bearer);
        if (!res || res->status != 200)
            ++missing;
    }
    EXPECT_EQ(missing, 0) << "of " << acknowledged.size();
    again.Signal(SIGTERM);
    EXPECT_EQ(again.Wait(10s), 0) << again.Err();
    fs::remove_all(dir);
}

TEST(SupportBinaryTest, BadOptionsExitTwoAndAnUnwritableTokenFileOne) {
    const std::string program = (BinDir() / "quelda-support").string();
    EXPECT_EQ(RunProcess({program, "--port", "70000"}).exitCode, 2);
    EXPECT_EQ(RunProcess({program, "--keep-days"}).exitCode, 2);
    EXPECT_EQ(RunProcess({program, "--help"}).exitCode, 0);
    EXPECT_EQ(RunProcess({program, "--token-file", "/nonexistent/dir/token"}).exitCode, 1);
}

} // namespace
