// Who may look, and what the support server believes: staff accounts from the command line,
// access lines, the proxy's header, the database's quota, limits on a report's strings, and a
// damaged database.
#include "access.h"
#include "child_process.h"
#include "file_bytes.h"
#include "options.h"
#include "raw_client.h"
#include "report_limits.h"
#include "report_samples.h"
#include "support_server.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

fs::path TestDir() {
    const fs::path dir = fs::temp_directory_path() /
                         ("support-acc-" + std::to_string(getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string Program() {
    return (BinDir() / "quelda-support").string();
}

httplib::Headers Bearer(const std::string& token) {
    return {{"Authorization", "Bearer " + token}};
}

TEST(StaffAccountsTest, TokensPrintedOnceStoredAsHashesAndRemovedAccountsLockedOut) {
    const fs::path dir = TestDir();
    const std::string db = (dir / "s.sqlite").string(), tokenFile = (dir / "token").string();
    ProcessResult added = RunProcess({Program(), "--db", db, "--add-staff", "alice"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const std::string alice = added.out.substr(0, added.out.find('\n'));
    ASSERT_EQ(alice.size(), 48u) << added.out;
    EXPECT_EQ(RunProcess({Program(), "--db", db, "--add-staff", "alice"}).exitCode, 1);
    EXPECT_EQ(RunProcess({Program(), "--db", db, "--add-staff", "admin"}).exitCode, 1);
    EXPECT_EQ(RunProcess({Program(), "--db", db, "--add-staff", "a b"}).exitCode, 2);
    ASSERT_EQ(RunProcess({Program(), "--db", db, "--add-staff", "bob"}).exitCode, 0);
    const std::string file = ReadFile(db) + ReadFile(db + "-wal");
    EXPECT_EQ(file.find(alice), std::string::npos);
    EXPECT_NE(file.find(TokenHash(alice)), std::string::npos);

    Child server({Program(), "--port", "0", "--db", db, "--token-file", tokenFile});
    const int port = StartedPort(server);
    ASSERT_GT(port, 0) << server.Err();
    const std::string admin = ReadFile(tokenFile).substr(0, 48);
    ProcessResult list =
        RunProcess({Program(), "--db", db, "--token-file", tokenFile, "--list-staff"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out.rfind("admin\t", 0), 0u) << list.out;
    EXPECT_NE(list.out.find("\nalice\tsince "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\nbob\tsince "), std::string::npos) << list.out;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat st {};
        ASSERT_EQ(stat((db + suffix).c_str(), &st), 0) << suffix;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << suffix;
    }

    UploadResult up = Upload(port, SampleReport().dump());
    ASSERT_EQ(up.status, 201);
    httplib::Client client("127.0.0.1", port);
    const std::string page = "/support/r/" + up.code;
    ASSERT_EQ(client.Get(page.c_str(), Bearer(alice))->status, 200);
    auto login =
        client.Post("/support/login", "token=" + alice, "application/x-www-form-urlencoded");
    ASSERT_TRUE(login);
    ASSERT_EQ(login->status, 303);
    const httplib::Headers session = {
        {"Cookie", login->get_header_value("Set-Cookie")
                       .substr(0, login->get_header_value("Set-Cookie").find(';'))}};
    // Access lines go to the database with the next transaction, a moment later.
    std::optional<httplib::Response> seen;
    for (int i = 0; i < 50; ++i) {
        auto res = client.Get(page.c_str(), Bearer(admin));
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        seen = *res;
        if (seen->body.find("<tr><td>alice</td>") != std::string::npos)
            break;
        std::this_thread::sleep_for(50ms);
    }
    // Newest first: admin now, alice before.
    const size_t adminAt = seen->body.find("<tr><td>admin</td>");
    const size_t aliceAt = seen->body.find("<tr><td>alice</td>");
    EXPECT_NE(adminAt, std::string::npos) << seen->body;
    EXPECT_NE(aliceAt, std::string::npos);
    EXPECT_LT(adminAt, aliceAt);
    EXPECT_NE(seen->body.find("查看记录"), std::string::npos);

    ProcessResult removed = RunProcess({Program(), "--db", db, "--remove-staff", "alice"});
    EXPECT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_EQ(RunProcess({Program(), "--db", db, "--remove-staff", "alice"}).exitCode, 1);
    EXPECT_EQ(client.Get(page.c_str(), session)->status, 303);
    EXPECT_EQ(client.Get(page.c_str(), Bearer(alice))->status, 401);
    auto bob = RunProcess({Program(), "--db", db, "--list-staff"});
    EXPECT_EQ(bob.out.find("alice"), std::string::npos);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(10s), 0);
    fs::remove_all(dir);
}

class StoreServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = TestDir();
        log_ = std::tmpfile();
    }
    void TearDown() override {
        if (thread_.joinable()) {
            server_->Stop();
            thread_.join();
        }
        server_.reset();
        writer_.reset();
        store_.reset();
        std::fclose(log_);
        fs::remove_all(dir_);
    }
    void Start(SupportServer::Settings settings, std::int64_t maxBytes = 0,
               const std::string& address = "127.0.0.1") {
        if (!store_) {
            store_ = std::make_unique<ReportStore>();
            std::string error;
            ASSERT_TRUE(store_->Open((dir_ / "s.sqlite").string(), error)) << error;
        }
        writer_ = std::make_unique<UploadWriter>(*store_, 0, log_, maxBytes);
        settings.token = kToken;
        settings.log = log_;
        server_ = std::make_unique<SupportServer>(settings, *store_, *writer_);
        port_ = server_->Bind(address, 0);
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->Listen(); });
    }
    std::string Log() {
        std::fflush(log_);
        std::rewind(log_);
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0)
            text.append(buf, n);
        return text;
    }
    std::string StoredAddress(const std::string& code) {
        StoredReport report;
        return store_->Find(code, report) ? report.address : "(none)";
    }

    static constexpr char kToken[] = "store-test-token-0123456789";
    fs::path dir_;
    std::FILE* log_ = nullptr;
    std::unique_ptr<ReportStore> store_;
    std::unique_ptr<UploadWriter> writer_;
    std::unique_ptr<SupportServer> server_;
    std::thread thread_;
    int port_ = 0;
};

// An upload over a raw connection from `from`, with an X-Real-IP header; the code or "".
std::string UploadFrom(int port, const std::string& from, const std::string& realIp) {
    const std::string body = SampleReport().dump();
    RawClient c;
    if (!c.Connect(port, from))
        return {};
    c.Send("POST /reports HTTP/1.1\r\nHost: x\r\nConnection: close\r\nX-Real-IP: " + realIp +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body);
    const std::string answer = c.ReadUntilClose(5s);
    const size_t at = answer.find("{\"code\":\"");
    return StatusOf(answer) == 201 && at != std::string::npos ? answer.substr(at + 9, 8) : "";
}

TEST_F(StoreServerTest, ProxyHeadersAreBelievedFromTheProxyOnly) {
    SupportServer::Settings settings;
    settings.proxies = {"127.0.0.2"};
    Start(settings);
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.2", "203.0.113.9")), "203.0.113.9");
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.2", "::ffff:203.0.113.8")), "203.0.113.8");
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.2", "<script>")), "127.0.0.2");
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.1", "203.0.113.7")), "127.0.0.1");
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.3", "203.0.113.6")), "127.0.0.3");
}

// A dual-stack socket sees IPv4 clients as ::ffff:a.b.c.d; the default proxy 127.0.0.1 is
// recognised in that form.
TEST_F(StoreServerTest, TheDefaultProxyIsRecognisedOnADualStackSocket) {
    SupportOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--behind-proxy"}, options, error)) << error;
    SupportServer::Settings settings;
    settings.proxies = options.proxies;
    writer_.reset();
    store_ = std::make_unique<ReportStore>();
    ASSERT_TRUE(store_->Open((dir_ / "s.sqlite").string(), error)) << error;
    writer_ = std::make_unique<UploadWriter>(*store_, 0, log_, 0);
    settings.token = kToken;
    settings.log = log_;
    server_ = std::make_unique<SupportServer>(settings, *store_, *writer_);
    port_ = server_->Bind("::", 0);
    if (port_ < 0)
        GTEST_SKIP() << "no IPv6 on this machine";
    thread_ = std::thread([this] { server_->Listen(); });
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.1", "198.51.100.4")), "198.51.100.4");
    EXPECT_EQ(StoredAddress(UploadFrom(port_, "127.0.0.2", "198.51.100.5")), "127.0.0.2");
}

TEST(SupportOptionsTest, BehindProxyTakesAnOptionalAddress) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> proxies;
        bool ok;
    } cases[] = {
        {{}, {}, true},
        {{"--behind-proxy"}, {"127.0.0.1", "::1"}, true},
        {{"--behind-proxy", "--port", "0"}, {"127.0.0.1", "::1"}, true},
        {{"--behind-proxy", "10.0.0.5"}, {"10.0.0.5"}, true},
        {{"--behind-proxy=::FFFF:10.0.0.6"}, {"10.0.0.6"}, true},
        {{"--behind-proxy", "proxy.example"}, {}, false},
        {{"--max-db-mb", "0"}, {}, false},
        {{"--add-staff", "x", "--list-staff"}, {}, false},
    };
    for (const auto& c : cases) {
        SupportOptions options;
        std::string error;
        EXPECT_EQ(ParseOptions(c.args, options, error), c.ok) << c.args.size() << error;
        if (c.ok) {
            EXPECT_EQ(options.proxies, c.proxies);
        }
    }
}

TEST_F(StoreServerTest, UploadsPastTheQuotaAre507AndThePagesStillWork) {
    Start({}, 1); // any database is past one byte
    UploadResult up = Upload(port_, SampleReport().dump());
    EXPECT_EQ(up.status, 507) << up.body;
    httplib::Client client("127.0.0.1", port_);
    auto overview = client.Get("/support/", Bearer(kToken));
    ASSERT_TRUE(overview);
    EXPECT_EQ(overview->status, 200);
    EXPECT_NE(Log().find("quota: the database uses 0 MiB of its 0 MiB"), std::string::npos)
        << Log();
    EXPECT_EQ(store_->Count(), 0);
}

TEST_F(StoreServerTest, EveryStringOfAReportIsLimited) {
    SupportServer::Settings settings;
    settings.uploadsPerMinute = settings.uploadsPerNetworkPerMinute = 1000;
    Start(settings);
    const json good = SampleReport();
    auto with = [&good](const std::function<void(json&)>& change) {
        json r = good;
        change(r);
        return r.dump();
    };
    const std::string cjk400 = [] {
        std::string s;
        for (int i = 0; i < 400; ++i)
            s += "版";
        return s;
    }();
    const struct {
        const char* what;
        std::string body;
        int status;
    } cases[] = {
        {"an unknown region", with([](json& r) { r["region"] = "guangdong"; }), 400},
        {"a 65-character tool version",
         with([](json& r) { r["toolVersion"] = std::string(65, '1'); }), 400},
        {"a 65-character version found",
         with([](json& r) { r["rows"][kCaRow]["facts"][0]["found"] = std::string(65, '2'); }), 400},
        {"a 65-character component file name", with([](json& r) {
             r["rows"][kCaRow]["facts"][0]["where"] = "C:\\" + std::string(65, 'f');
         }),
         400},
        {"a 401-character note",
         with([](json& r) { r["rows"][0]["facts"][0]["note"] = std::string(401, 'n'); }), 400},
        {"a 401-character string in an unknown member",
         with([](json& r) { r["extra"] = json::array({std::string(401, 'u')}); }), 400},
        {"400 Chinese characters in a note",
         with([&cjk400](json& r) { r["rows"][0]["facts"][0]["note"] = cjk400; }), 201},
        {"64-character versions", with([](json& r) {
             r["toolVersion"] = std::string(64, '1');
             r["rows"][kCaRow]["facts"][0]["found"] = std::string(64, '2');
         }),
         201},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UploadResult up = Upload(port_, c.body);
        EXPECT_EQ(up.status, c.status) << up.body;
    }
}

// Overwrites `pages` pages of 4 KiB from page `first` with a pattern.
void Damage(const std::string& file, int first, int pages) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(first) * 4096);
    const std::string junk(4096, '\xA5');
    for (int i = 0; i < pages; ++i)
        f.write(junk.data(), junk.size());
}

std::vector<std::string> StoreReports(const std::string& file, int count) {
    ReportStore store;
    std::string error;
    EXPECT_TRUE(store.Open(file, error)) << error;
    std::vector<NewReport> reports(static_cast<size_t>(count));
    std::vector<NewReport*> batch;
    for (NewReport& r : reports) {
        r.received = std::time(nullptr) - 60;
        r.address = "10.0.0.1";
        r.body = SampleReport().dump();
        r.digest = DigestReport(SampleReport());
        batch.push_back(&r);
    }
    EXPECT_TRUE(store.Insert(batch, error)) << error;
    std::vector<std::string> codes;
    for (NewReport& r : reports)
        codes.push_back(r.code);
    return codes; // closing the last connection moves the WAL into the file
}

TEST_F(StoreServerTest, ADamagedDatabaseFailsLoudly) {
    const std::string file = (dir_ / "s.sqlite").string();
    const std::vector<std::string> codes = StoreReports(file, 200);
    ASSERT_GT(fs::file_size(file), 60u * 4096);

    // Damaged after the start: the pages answer 500 and the log says why. Every page past the
    // schema is damaged: a page whose query reads only sound pages may rightly answer 200, and
    // which pages a query reads depends on where SQLite put the rows and the indexes.
    store_ = std::make_unique<ReportStore>();
    std::string error;
    ASSERT_TRUE(store_->Open(file, error)) << error;
    Damage(file, 4, static_cast<int>(fs::file_size(file) / 4096) - 4);
    Start({});
    httplib::Client client("127.0.0.1", port_);
    const std::string paths[] = {"/support/", "/support/reports", "/support/r/" + codes[100]};
    int failed = 0;
    for (const std::string& path : paths) {
        auto res = client.Get(path.c_str(), Bearer(kToken));
        ASSERT_TRUE(res);
        EXPECT_NE(res->status, 200) << path;
        failed += res->status == 500;
    }
    EXPECT_GE(failed, 2);
    EXPECT_NE(Log().find("database error ("), std::string::npos) << Log();

    // Damaged before the start: the server refuses to start and names the file.
    ProcessResult start = RunProcess(
        {Program(), "--port", "0", "--db", file, "--token-file", (dir_ / "token").string()});
    EXPECT_EQ(start.exitCode, 1);
    EXPECT_NE(start.err.find(file + ": the database is damaged"), std::string::npos) << start.err;
}

// The whole-file check runs only after a run that did not end cleanly (its marker left), so
// that a large store does not cost every start a read of all of it.
TEST_F(StoreServerTest, TheFileIsCheckedOnlyAfterARunThatDidNotEndCleanly) {
    const std::string file = (dir_ / "s.sqlite").string();
    StoreReports(file, 200);
    const std::string marker = file + ".running";
    std::string error;
    {
        ReportStore running;
        ASSERT_TRUE(running.Open(file, error)) << error;
        EXPECT_TRUE(fs::exists(marker));
    }
    EXPECT_FALSE(fs::exists(marker)) << "a clean end removes it";
    Damage(file, 4, static_cast<int>(fs::file_size(file) / 4096) - 4);
    {
        ReportStore command;
        EXPECT_TRUE(command.Open(file, error, ReportStore::Use::Command)) << error;
        EXPECT_FALSE(fs::exists(marker)) << "a staff command keeps no marker";
    }
    std::ofstream(marker) << ""; // as a killed server leaves it
    ReportStore afterCrash;
    EXPECT_FALSE(afterCrash.Open(file, error));
    EXPECT_NE(error.find("the database is damaged"), std::string::npos) << error;
}

} // namespace
