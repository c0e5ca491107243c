// Clients that try to make the servers hold memory, threads or connections: bodies past the
// limit however they are sent, oversized headers, requests that never end, many slow
// connections from one address, and kept-alive connections that idle.
#include "child_process.h"
#include "raw_client.h"
#include "report_samples.h"
#include "server_fixture.h"
#include "support_server.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kHundredMiB = 100u << 20;

class HostileClientsTest : public SupportServerFixture {
  protected:
    void Start(const HttpLimits& limits = SupportServer::DefaultLimits()) {
        SupportServer::Settings settings;
        settings.token = "hostile-test-token-0123456789";
        settings.log = nullptr;
        settings.limits = limits;
        StartWith(settings, 0);
    }
};

TEST_F(HostileClientsTest, BodiesPastTheLimitAreRefusedAsSoonAsTheyPassIt) {
    Start();
    const std::string data(64 * 1024, 'x');
    const std::string chunk = "10000\r\n" + data + "\r\n";
    const struct {
        const char* how;
        std::string header;
        std::string piece;
        int status = 413;
    } cases[] = {
        {"with a length", "POST /reports HTTP/1.1\r\nHost: x\r\nContent-Length: 104857600\r\n\r\n",
         data},
        {"chunked", "POST /reports HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
         chunk},
        {"one huge chunk",
         "POST /reports HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n6400000\r\n",
         data},
        // Neither a length nor chunks: an empty body (refused as no report), and what follows
        // is no body but the next request, refused too.
        {"without a length", "POST /reports HTTP/1.1\r\nHost: x\r\n\r\n", data, 400},
        {"to a path without a handler",
         "POST /anything HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", chunk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        RawClient client;
        ASSERT_TRUE(client.Connect(port_));
        const std::size_t sent = client.Flood(c.header, c.piece, kHundredMiB);
        // The answer comes while the client is still sending: what it got out is the limit
        // plus what the sockets' buffers hold, far from 100 MiB.
        EXPECT_LT(sent, 16u << 20);
        const std::string answer = client.ReadUntilClose(5s);
        EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 200);
        EXPECT_TRUE(client.closedByPeer());
    }
    EXPECT_EQ(store_.Count(), 0);
}

TEST_F(HostileClientsTest, APostWithoutALengthHasAnEmptyBodyAndTheNextRequestFollows) {
    Start();
    RawClient client;
    ASSERT_TRUE(client.Connect(port_));
    ASSERT_TRUE(client.Send("POST /reports HTTP/1.1\r\nHost: x\r\n\r\n"
                            "GET /support/login HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const std::string answer = client.ReadUntilClose(5s);
    EXPECT_EQ(StatusOf(answer), 400) << answer.substr(0, 200);
    const std::size_t second = answer.find("HTTP/1.1 ", 1);
    ASSERT_NE(second, std::string::npos) << answer;
    EXPECT_EQ(StatusOf(answer.substr(second)), 200) << answer.substr(second, 200);
}

TEST_F(HostileClientsTest, HeaderLinesAndHeaderBytesAreCapped) {
    Start();
    std::string manyLines = "GET /support/login HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < 100; ++i)
        manyLines += "X-Line-" + std::to_string(i) + ": 1\r\n";
    const struct {
        const char* what;
        std::string request;
        int status;
    } cases[] = {
        {"100 header lines", manyLines + "\r\n", 431},
        {"one 9000-byte header",
         "GET /support/login HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(9000, 'a') + "\r\n\r\n",
         431},
        {"64 KiB of header lines never ended",
         "GET /support/login HTTP/1.1\r\n" + std::string(64 * 1024, 'a'), 431},
        {"a few lines", "GET /support/login HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RawClient client;
        ASSERT_TRUE(client.Connect(port_));
        client.Send(c.request);
        const std::string answer = client.ReadUntilClose(5s);
        EXPECT_EQ(StatusOf(answer), c.status) << answer.substr(0, 200);
        EXPECT_TRUE(client.closedByPeer());
    }
}

TEST_F(HostileClientsTest, AWholeRequestMustArriveWithinTheDeadline) {
    HttpLimits limits = SupportServer::DefaultLimits();
    limits.requestDeadline = limits.firstRequestDeadline = 1s;
    Start(limits);
    RawClient client;
    ASSERT_TRUE(client.Connect(port_));
    const auto start = Clock::now();
    // A byte every 100 ms: each read comes in time, the request as a whole does not.
    const std::string request = "POST /reports HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n";
    std::string answer;
    for (char c : request + "0123456789") {
        if (!client.Send(std::string(1, c)))
            break;
        answer += client.ReadSome(100ms);
        if (!answer.empty() || client.closedByPeer())
            break;
    }
    answer += client.ReadUntilClose(3s);
    EXPECT_EQ(StatusOf(answer), 408) << answer;
    EXPECT_TRUE(client.closedByPeer());
    EXPECT_LT(Clock::now() - start, 3s);
}

TEST_F(HostileClientsTest, SixtyFourSlowConnectionsFromOneAddressLeaveOthersAnswered) {
    Start();
    std::vector<std::unique_ptr<RawClient>> slow;
    int refused = 0;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(slow.back()->Connect(port_, "127.0.0.2"));
        slow.back()->Send("POST /reports HTTP/1.1\r\nHost: x\r\nX-Slow: ");
    }
    for (auto& c : slow)
        refused += StatusOf(c->ReadSome(200ms)) == 429;
    EXPECT_EQ(refused, 64 - 8); // eight per address
    EXPECT_EQ(server_->OpenConnections(), 8);

    const std::string body = SampleReport().dump();
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        UploadResult up = Upload(port_, body);
        EXPECT_EQ(up.status, 201);
        EXPECT_LT(Clock::now() - start, 1s);
    }
    for (auto& c : slow) // the slow ones are still held, not answered
        c->Send("a");
    // The uploads' own connections close a moment after their answers.
    for (int i = 0; i < 100 && server_->OpenConnections() != 8; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(server_->OpenConnections(), 8);
}

TEST_F(HostileClientsTest, IdleKeptAliveConnectionsAreClosedWhenOthersWait) {
    HttpLimits limits = SupportServer::DefaultLimits();
    limits.maxConnections = 8;
    limits.idleTimeout = 30s;
    Start(limits);
    auto keptAlive = [this](const std::string& from) {
        auto c = std::make_unique<RawClient>();
        EXPECT_TRUE(c->Connect(port_, from));
        c->Send("GET /support/login HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(StatusOf(c->ReadSome(2s)), 200);
        return c;
    };
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 4; ++i)
        idle.push_back(keptAlive("127.0.0." + std::to_string(10 + i)));
    for (auto& c : idle) // half the connections: nobody waits, they may idle
        EXPECT_FALSE(c->ClosedWithin(100ms));
    auto newcomer = keptAlive("127.0.0.20");
    for (auto& c : idle)
        EXPECT_TRUE(c->ClosedWithin(1s));

    // And with room, an idle connection still ends after the idle time.
    TearDown();
    SetUp();
    limits.maxConnections = 512;
    limits.idleTimeout = 300ms;
    Start(limits);
    auto lone = keptAlive("127.0.0.1");
    EXPECT_TRUE(lone->ClosedWithin(2s));
}

// Past half the connections an answer says "Connection: close" and the connection closes
// after it: a client told to keep it would send its next request into a closed connection.
TEST_F(HostileClientsTest, PastHalfTheConnectionsAnswersSayTheyClose) {
    HttpLimits limits = SupportServer::DefaultLimits();
    limits.maxConnections = 8;
    Start(limits);
    std::vector<std::unique_ptr<RawClient>> pending;
    for (int i = 0; i < 4; ++i) { // requests begun, not finished: held, not idle
        pending.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(pending.back()->Connect(port_, "127.0.0." + std::to_string(10 + i)));
        pending.back()->Send("GET /support/login HTTP/1.1\r\n");
    }
    RawClient fifth;
    ASSERT_TRUE(fifth.Connect(port_, "127.0.0.20"));
    fifth.Send("GET /support/login HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string answer = fifth.ReadUntilClose(2s);
    EXPECT_EQ(StatusOf(answer), 200);
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    EXPECT_TRUE(fifth.closedByPeer());
}

// Resident memory of a process from /proc: the current and the peak, in KiB.
long ProcessKiB(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Both servers as built, with four clients each sending 100 MiB chunked at once.
TEST(HostileClientsBinaryTest, FourChunkedFloodsLeaveMemoryFlat) {
    const fs::path dir = fs::temp_directory_path() / ("flood-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::vector<std::vector<std::string>> servers = {
        {(BinDir() / "quelda-support").string(), "--port", "0", "--db", (dir / "s.sqlite").string(),
         "--token-file", (dir / "token").string()},
        {(BinDir() / "quelda-confserver").string(), "--port", "0",
         std::string(QUELDA_SOURCE_DIR) + "/examples/server-config.json"}};
    const std::string chunk = "10000\r\n" + std::string(64 * 1024, 'x') + "\r\n";
    for (const auto& argv : servers) {
        SCOPED_TRACE(argv[0]);
        Child server(argv);
        const int port = StartedPort(server);
        ASSERT_GT(port, 0) << server.Err();
        const long before = ProcessKiB(server.Pid(), "VmRSS:");
        std::vector<std::thread> floods;
        std::atomic<int> refused{0};
        std::atomic<std::size_t> sent{0};
        for (int i = 0; i < 4; ++i)
            floods.emplace_back([&] {
                RawClient client;
                if (!client.Connect(port))
                    return;
                sent += client.Flood(
                    "POST /reports HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
                    chunk, kHundredMiB);
                refused += StatusOf(client.ReadUntilClose(5s)) == 413;
            });
        for (auto& t : floods)
            t.join();
        const long peak = ProcessKiB(server.Pid(), "VmHWM:");
        EXPECT_EQ(refused, 4);
        EXPECT_LT(peak - before, 32 * 1024) << "KiB";
        std::printf("%s: RSS %ld KiB before, peak %ld KiB during four chunked floods "
                    "(%zu bytes sent in all)\n",
                    fs::path(argv[0]).filename().c_str(), before, peak, sent.load());
        server.Signal(SIGTERM);
        EXPECT_EQ(server.Wait(10s), 0);
    }
    fs::remove_all(dir);
}

} // namespace
