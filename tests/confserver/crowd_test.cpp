// A crowd against the configuration server: slow readers of an installer from many networks,
// answers that fall behind the minimum rate, too many connections from one network, and a log
// that nobody reads. The counts are scaled down from a real crowd (560 readers from 70
// addresses against 512 connections) so that each test runs in seconds; the shape stays.
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

const char kInstaller[] = "GET /files/big.exe HTTP/1.1\r\nHost: x\r\n\r\n";
const char kDocument[] =
    "GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

class CrowdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("confserver-crowd-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "files");
        std::ofstream(dir_ / "files" / "big.exe", std::ios::binary) << std::string(kFileSize, 'i');
    }
    void TearDown() override {
        if (server_)
            server_->Stop();
        if (thread_.joinable())
            thread_.join();
        server_.reset();
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
        for (int i = 0; i < 400 && !server_->IsRunning(); ++i)
            std::this_thread::sleep_for(5ms);
    }
    // The document from a fresh connection: its status, 0 when nothing came in `patience`.
    int FetchDocument(const std::string& from, std::chrono::milliseconds patience) {
        RawClient client;
        if (!client.Connect(port_, from) || !client.Send(kDocument))
            return 0;
        return StatusOf(client.ReadSome(patience));
    }

    static constexpr std::size_t kFileSize = 4u << 20;
    fs::path dir_;
    std::unique_ptr<ConfigServer> server_;
    std::thread thread_;
    int port_ = 0;
};

// Reads a little of its answer now and then, as a crowd that holds connections does.
struct SlowReader {
    std::unique_ptr<RawClient> client;
    std::string from;
    std::size_t got = 0;
};

bool OpenSlowReader(SlowReader& reader, int port) {
    reader.client = std::make_unique<RawClient>();
    reader.got = 0;
    return reader.client->Connect(port, reader.from, 4096) && reader.client->Send(kInstaller);
}

// Takes up to `bytes` without waiting; false when the server has closed the connection.
bool Nibble(SlowReader& reader, std::size_t bytes) {
    char buffer[4096];
    const ssize_t n =
        ::recv(reader.client->fd(), buffer, std::min(bytes, sizeof buffer), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        return false;
    if (n > 0)
        reader.got += static_cast<std::size_t>(n);
    return true;
}

TEST_F(CrowdTest, SlowReadersFromSeventyNetworksLeaveTheDocumentAnsweredWithinASecond) {
    HttpLimits limits = ConfigServer::DefaultLimits();
    limits.maxConnections = 128; // 70 networks of 2 readers: 140 against 128 connections
    limits.maxPerAddress = 2;
    Start(limits);

    // The crowd comes back at once whenever a connection of it ends.
    std::vector<SlowReader> crowd;
    for (int network = 0; network < 70; ++network)
        for (int i = 0; i < 2; ++i)
            crowd.push_back({nullptr, "127.1." + std::to_string(network) + ".1", 0});
    for (SlowReader& reader : crowd)
        ASSERT_TRUE(OpenSlowReader(reader, port_));
    std::atomic<bool> done{false};
    std::atomic<int> reconnects{0};
    std::thread holder([&] {
        while (!done) {
            for (SlowReader& reader : crowd)
                if (!Nibble(reader, 1024)) {
                    ++reconnects;
                    OpenSlowReader(reader, port_);
                }
            std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(500ms);

    int answered = 0;
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        const int status = FetchDocument("127.2." + std::to_string(i) + ".1", 1s);
        EXPECT_EQ(status, 200) << "client " << i;
        EXPECT_LT(Clock::now() - start, 1s) << "client " << i;
        answered += status == 200;
        std::this_thread::sleep_for(100ms);
    }
    done = true;
    holder.join();
    EXPECT_EQ(answered, 10);
    // The crowd held the server: more readers than connections, each pushed out came back.
    EXPECT_GE(reconnects.load(), 10);
    crowd.clear();
}

TEST_F(CrowdTest, AnAnswerThatFallsBehindTheMinimumRateIsCutOneThatKeepsUpIsNot) {
    HttpLimits limits = ConfigServer::DefaultLimits();
    limits.sendTimeout = 500ms;
    limits.minSendRate = 256 * 1024;
    Start(limits);

    // 40 KB/s against 256 KiB/s: cut about half a second in, far from the whole file.
    SlowReader slow{nullptr, "127.0.0.2", 0};
    ASSERT_TRUE(OpenSlowReader(slow, port_));
    const auto start = Clock::now();
    bool open = true;
    while (open && Clock::now() - start < 5s) {
        open = Nibble(slow, 4096);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(open) << "still open after 5 s with " << slow.got << " bytes";
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_LT(slow.got, kFileSize / 4);

    // About 2 MB/s, well above the minimum: the whole file arrives, in about two seconds,
    // past the 0.5 s start and the 4 MiB / 256 KiB/s = 16 s deadline of the whole answer.
    SlowReader steady{nullptr, "127.0.0.3", 0};
    ASSERT_TRUE(OpenSlowReader(steady, port_));
    open = true;
    const auto began = Clock::now();
    while (open && steady.got < kFileSize + 100 && Clock::now() - began < 10s) {
        for (int i = 0; i < 50 && open; ++i)
            open = Nibble(steady, 4096);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_GT(steady.got, kFileSize) << "a head and the whole file";
}

TEST_F(CrowdTest, ANetworkHoldsAtMostItsShareWhateverItsAddresses) {
    HttpLimits limits = ConfigServer::DefaultLimits();
    limits.maxPerNetwork = 16;
    Start(limits);
    std::vector<std::unique_ptr<RawClient>> held;
    int refused = 0;
    for (int address = 1; address <= 3; ++address)
        for (int i = 0; i < 8; ++i) {
            held.push_back(std::make_unique<RawClient>());
            ASSERT_TRUE(held.back()->Connect(port_, "127.3.3." + std::to_string(address)));
            held.back()->Send("GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\n");
        }
    for (auto& c : held) {
        const std::string answer = c->ReadSome(100ms);
        if (StatusOf(answer) == 429) {
            ++refused;
            EXPECT_NE(answer.find("from this network"), std::string::npos) << answer;
        }
    }
    EXPECT_EQ(refused, 8);
    EXPECT_EQ(FetchDocument("127.3.4.1", 1s), 200) << "the next network is not held back";
}

// A log nobody reads fills its pipe; the connections go on as before, and the lines that did
// not fit are counted in the log once it is read again.
TEST_F(CrowdTest, ALogThatNobodyReadsStallsNoConnection) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE* log = ::fdopen(pipeFds[1], "w");
    ASSERT_NE(log, nullptr);
    Start(ConfigServer::DefaultLimits(), log);

    // Each answer is a line of about 45 bytes: 4000 of them are three times the pipe's 64 KiB.
    auto client = std::make_unique<RawClient>();
    ASSERT_TRUE(client->Connect(port_));
    const auto start = Clock::now();
    const std::string request = "GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\n\r\n";
    int answered = 0;
    for (int i = 0; i < 4000 && Clock::now() - start < 20s; ++i) {
        if (!client->Send(request))
            break;
        std::string answer;
        while (answer.find("{\"hebei\":{}}") == std::string::npos && !client->closedByPeer())
            answer += client->ReadSome(2s);
        answered += StatusOf(answer) == 200;
        if ((i + 1) % 99 == 0) { // 100 requests per connection at most
            client = std::make_unique<RawClient>();
            ASSERT_TRUE(client->Connect(port_));
        }
    }
    EXPECT_EQ(answered, 4000);
    EXPECT_LT(Clock::now() - start, 15s);

    // Read now, the log has what it took before it filled up.
    std::string text;
    char buffer[65536];
    const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0)
        text.assign(buffer, static_cast<std::size_t>(n));
    EXPECT_NE(text.find("127.0.0.1 GET /envcheck/config.json 200 12 bytes\n"), std::string::npos)
        << text.substr(0, 200);
    server_->Stop();
    thread_.join();
    server_.reset(); // its log writer gives up on the pipe within a second
    std::fclose(log);
    ::close(pipeFds[0]);
}

TEST_F(CrowdTest, BehindAProxyTheLogNamesTheClientThatTheProxySaw) {
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    Start(ConfigServer::DefaultLimits(), log, {"127.0.0.1"});
    auto fetch = [this](const std::string& from) {
        RawClient client;
        EXPECT_TRUE(client.Connect(port_, from));
        client.Send("GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\nX-Real-IP: 203.0.113.9\r\n"
                    "Connection: close\r\n\r\n");
        return StatusOf(client.ReadUntilClose(2s));
    };
    EXPECT_EQ(fetch("127.0.0.1"), 200);
    EXPECT_EQ(fetch("127.0.0.5"), 200); // no proxy: its header is not believed
    // Nine connections at once from the proxy: it is not held to eight.
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 9; ++i) {
        held.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(held.back()->Connect(port_, "127.0.0.1"));
        held.back()->Send("GET /envcheck/config.json HTTP/1.1\r\nHost: x\r\n");
    }
    for (auto& c : held)
        EXPECT_EQ(c->ReadSome(200ms), "");
    held.clear();
    server_->Stop();
    thread_.join();
    server_.reset();
    std::rewind(log);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, log)) > 0;)
        text.append(buffer, n);
    std::fclose(log);
    EXPECT_NE(text.find("203.0.113.9 GET /envcheck/config.json 200"), std::string::npos) << text;
    EXPECT_NE(text.find("127.0.0.5 GET /envcheck/config.json 200"), std::string::npos) << text;
    EXPECT_EQ(text.find("127.0.0.1 GET"), std::string::npos) << text;
}

} // namespace
