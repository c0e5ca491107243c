// A crowd against the configuration server: slow readers of an installer from many networks,
// answers behind the minimum rate, one network's share, a log that nobody reads, a proxy.
// Scaled down from 560 readers of 70 addresses against 512 connections; the shape stays.
#include "config_server.h"
#include "raw_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kFileSize = 4u << 20;
const char kInstaller[] = "GET /files/big.exe HTTP/1.1\r\nHost: x\r\n\r\n";

class CrowdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("confserver-crowd-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "files");
        std::ofstream(dir_ / "files" / "big.exe", std::ios::binary) << std::string(kFileSize, 'i');
    }
    void TearDown() override {
        StopServer();
        fs::remove_all(dir_);
    }
    void Start(const HttpLimits& limits, std::FILE* log = nullptr,
               std::vector<std::string> proxies = {}) {
        ConfigServer::Settings settings;
        settings.files.emplace();
        std::string error;
        ASSERT_TRUE(settings.files->Open((dir_ / "files").string(), error)) << error;
        settings.log = log;
        settings.limits = limits;
        settings.proxies = std::move(proxies);
        server_ = std::make_unique<ConfigServer>(std::move(settings));
        port_ = server_->Bind("127.0.0.1", 0);
        ASSERT_GT(port_, 0);
        server_->SetDocument("{\"hebei\":{}}");
        thread_ = std::thread([this] { server_->Listen(); });
    }
    void StopServer() {
        if (server_)
            server_->Stop();
        if (thread_.joinable())
            thread_.join();
        server_.reset();
    }
    int FetchDocument(const std::string& from, const std::string& header = "") {
        RawClient client;
        if (!client.Connect(port_, from) ||
            !client.Send("GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\n" + header +
                         "Connection: close\r\n\r\n"))
            return 0;
        return StatusOf(client.ReadSome(1s));
    }

    fs::path dir_;
    std::unique_ptr<ConfigServer> server_;
    std::thread thread_;
    int port_ = 0;
};

// Reads a little of the installer now and then, through a small receive buffer.
struct SlowReader {
    explicit SlowReader(std::string address) : from(std::move(address)) {}
    std::string from;
    std::unique_ptr<RawClient> client;
    std::size_t got = 0;

    bool Open(int port) {
        client = std::make_unique<RawClient>();
        return client->Connect(port, from, 4096) && client->Send(kInstaller);
    }
    // Takes up to `bytes` without waiting; false once the server has closed the connection.
    bool Nibble(std::size_t bytes) {
        char buffer[4096];
        const ssize_t n =
            ::recv(client->fd(), buffer, std::min(bytes, sizeof buffer), MSG_DONTWAIT);
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
};

TEST_F(CrowdTest, SlowReadersFromSeventyNetworksLeaveTheDocumentAnsweredWithinASecond) {
    HttpLimits limits = ConfigServer::DefaultLimits();
    limits.maxConnections = 128; // 70 networks of 2 readers: 140 against 128
    limits.maxPerAddress = 2;
    Start(limits);
    std::vector<SlowReader> crowd;
    for (int i = 0; i < 140; ++i) {
        crowd.emplace_back("127.1." + std::to_string(i / 2) + ".1");
        ASSERT_TRUE(crowd.back().Open(port_));
    }
    // The crowd comes back at once whenever one of its connections ends.
    std::atomic<bool> done{false};
    std::atomic<int> returned{0};
    std::thread holder([&] {
        for (; !done; std::this_thread::sleep_for(100ms))
            for (SlowReader& reader : crowd)
                if (!reader.Nibble(1024)) {
                    ++returned;
                    reader.Open(port_);
                }
    });
    std::this_thread::sleep_for(500ms);
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(FetchDocument("127.2." + std::to_string(i) + ".1"), 200) << i;
        EXPECT_LT(Clock::now() - start, 1s) << i;
        std::this_thread::sleep_for(150ms); // the crowd comes back meanwhile
    }
    done = true;
    holder.join();
    EXPECT_GE(returned.load(), 10) << "each newcomer took a reader's place";
}

TEST_F(CrowdTest, AnAnswerBehindTheMinimumRateIsCutOneAboveItIsNot) {
    HttpLimits limits = ConfigServer::DefaultLimits();
    limits.sendTimeout = 500ms;
    limits.minSendRate = 256 * 1024; // a deadline of 16.5 s for the whole file
    Start(limits);
    // 40 KB/s, then about 2 MB/s.
    const struct {
        std::size_t perTenth;
        bool whole;
    } readers[] = {{4096, false}, {50 * 4096, true}};
    for (const auto& r : readers) {
        SlowReader reader("127.0.0.2");
        ASSERT_TRUE(reader.Open(port_));
        const auto start = Clock::now();
        bool open = true;
        while (open && reader.got <= kFileSize && Clock::now() - start < 8s) {
            for (std::size_t n = 0; n < r.perTenth && open; n += 4096)
                open = reader.Nibble(4096);
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_EQ(reader.got > kFileSize, r.whole) << reader.got << " bytes";
        EXPECT_LT(Clock::now() - start, r.whole ? 8s : 3s);
    }
}

TEST_F(CrowdTest, ANetworkHoldsItsShareWhateverItsAddresses) {
    HttpLimits limits = ConfigServer::DefaultLimits();
    limits.maxPerNetwork = 16;
    Start(limits);
    std::vector<std::unique_ptr<RawClient>> held;
    int refused = 0;
    for (int i = 0; i < 24; ++i) { // 8 from each of 3 addresses
        held.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(held.back()->Connect(port_, "127.3.3." + std::to_string(1 + i / 8)));
        held.back()->Send("GET /envcheck/config.json HTTP/1.1\r\n");
    }
    for (auto& c : held)
        refused += c->ReadSome(100ms).find("429 Too Many Requests") != std::string::npos;
    EXPECT_EQ(refused, 8);
    EXPECT_EQ(FetchDocument("127.3.4.1"), 200) << "the next network is not held back";
}

// A pipe nobody reads fills at 64 KiB; 4000 answers log three times that.
TEST_F(CrowdTest, ALogThatNobodyReadsStallsNoConnection) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* log = ::fdopen(fds[1], "w");
    Start(ConfigServer::DefaultLimits(), log);
    const auto start = Clock::now();
    int answered = 0;
    std::unique_ptr<RawClient> client;
    for (int i = 0; i < 4000 && Clock::now() - start < 20s; ++i) {
        if (i % 99 == 0) { // 100 requests a connection at most
            client = std::make_unique<RawClient>();
            ASSERT_TRUE(client->Connect(port_));
        }
        client->Send("GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\n\r\n");
        std::string answer;
        while (answer.find("{\"hebei\":{}}") == std::string::npos && !client->closedByPeer())
            answer += client->ReadSome(2s);
        answered += StatusOf(answer) == 200;
    }
    EXPECT_EQ(answered, 4000);
    EXPECT_LT(Clock::now() - start, 15s);
    char text[49];
    ASSERT_EQ(::read(fds[0], text, sizeof text), 49);
    EXPECT_EQ(std::string(text, 49), "127.0.0.1 GET /envcheck/config.json 200 12 bytes\n");
    StopServer(); // its log writer gives up on the pipe within a second
    std::fclose(log);
    ::close(fds[0]);
}

TEST_F(CrowdTest, BehindAProxyTheLogNamesTheClientThatTheProxySaw) {
    std::FILE* log = std::tmpfile();
    Start(ConfigServer::DefaultLimits(), log, {"127.0.0.1"});
    const std::string real = "X-Real-IP: 203.0.113.9\r\n";
    EXPECT_EQ(FetchDocument("127.0.0.1", real), 200);
    EXPECT_EQ(FetchDocument("127.0.0.5", real), 200); // no proxy: its header is not believed
    StopServer();
    std::rewind(log);
    char text[4096] = {};
    std::fread(text, 1, sizeof text - 1, log);
    std::fclose(log);
    EXPECT_EQ(std::string(text), "203.0.113.9 GET /envcheck/config.json 200 12 bytes\n"
                                 "127.0.0.5 GET /envcheck/config.json 200 12 bytes\n");
}

} // namespace
