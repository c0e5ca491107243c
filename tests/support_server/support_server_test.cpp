// The support server in process: uploads and their limits, lookup, the staff pages' access
// rules, and retention.
#include "access.h"
#include "rate_limiter.h"
#include "report_code.h"
#include "report_samples.h"
#include "server_fixture.h"
#include "support_server.h"

#include <httplib.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char kToken[] = "test-token-0123456789abcdef";

class SupportServerTest : public SupportServerFixture {
  protected:
    void Start(int keepDays = 90, int perAddress = 8) {
        SupportServer::Settings settings;
        settings.token = kToken;
        settings.log = nullptr;
        settings.limits.maxPerAddress = perAddress;
        StartWith(settings, keepDays);
    }
    httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) {
        httplib::Client client("127.0.0.1", port_);
        return client.Get(path.c_str(), headers);
    }
    static httplib::Headers Bearer(const std::string& token = kToken) {
        return {{"Authorization", "Bearer " + token}};
    }
};

TEST_F(SupportServerTest, UploadThenLookupByTheCodeAsReadOverThePhone) {
    Start();
    json report = SampleReport();
    report["rows"][kCaRow]["facts"][0]["found"] = "<script>alert(1)</script>";
    const std::string shaped = report.dump();
    // Members a report does not define are dropped before it is stored: padding takes no
    // storage.
    for (int i = 0; i < 100; ++i)
        report["padding" + std::to_string(i)] = std::string(400, 'p');
    report["rows"][kToolRow]["padding"] = std::string(400, 'p');
    report["rows"][kToolRow]["facts"][0]["padding"] = 1;
    const std::string body = report.dump();
    UploadResult up = Upload(port_, body);
    ASSERT_EQ(up.status, 201) << up.body;
    ASSERT_TRUE(std::regex_match(up.code, std::regex("[0-9A-HJKMNP-TV-Z]{8}"))) << up.code;

    // As typed: lower case, a dash, and the letters Crockford reads as digits.
    std::string typed = up.code.substr(0, 4) + "-" + up.code.substr(4);
    for (char& c : typed)
        c = c == '0' ? 'o' : c == '1' ? 'l' : static_cast<char>(std::tolower(c));
    auto redirect = Get("/support/r?code=" + typed, Bearer());
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->status, 303);
    EXPECT_EQ(redirect->get_header_value("Location"), "/support/r/" + up.code);

    auto page = Get("/support/r/" + up.code, Bearer());
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200);
    for (const char* item : report_shape::kItems)
        EXPECT_NE(page->body.find(std::string("id=\"row-") + item + "\""), std::string::npos);
    EXPECT_NE(page->body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(page->body.find("<script"), std::string::npos);
    EXPECT_NE(page->body.find("投标工具安装版本不正确"), std::string::npos);

    StoredReport stored;
    ASSERT_TRUE(store_.Find(up.code, stored));
    EXPECT_EQ(stored.body, shaped);
    EXPECT_EQ(stored.region, "hebei");
    EXPECT_EQ(stored.failedRows, (1 << kToolRow) | (1 << kCaRow));

    auto missing =
        Get("/support/r/" + std::string(up.code == "00000000" ? "11111111" : "00000000"), Bearer());
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

// A burst of bidders connecting at the same moment: every one gets its code. (The 24 bidders
// would come from 24 addresses; here they share 127.0.0.1, so its limit is raised.)
TEST_F(SupportServerTest, EveryUploadOfABurstIsAnswered) {
    Start(90, 24);
    const std::string body = SampleReport().dump();
    std::atomic<int> waiting{24}, stored{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 24; ++c)
        clients.emplace_back([&] {
            --waiting;
            while (waiting > 0)
                std::this_thread::yield();
            stored += Upload(port_, body).status == 201;
        });
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(stored, 24);
}

json Nest(int levels, json inner) {
    for (int i = 0; i < levels; ++i)
        inner = json::array({inner});
    return inner;
}

TEST_F(SupportServerTest, HostileBodiesAreRefusedWithAOneLineReason) {
    Start();
    const json good = SampleReport();
    auto with = [&good](const std::function<void(json&)>& change) {
        json r = good;
        change(r);
        return r.dump();
    };
    struct Case {
        const char* what;
        std::string body;
        int status;
    } cases[] = {
        {"larger than 256 KiB", with([](json& r) { r["pad"] = std::string(300 * 1024, 'x'); }),
         413},
        {"not JSON", "{\"version\": 1,", 400},
        {"invalid UTF-8", with([](json& r) { r["region"] = "hebei"; }).replace(2, 0, "\xC0\xAF"),
         400},
        {"invalid UTF-8 in a string", "{\"version\":1,\"region\":\"\xED\xA0\x80\"}", 400},
        {"ten thousand brackets", std::string(10000, '[') + std::string(10000, ']'), 400},
        {"nine levels in an unknown member",
         with([](json& r) { r["rows"][0]["facts"][0]["extra"] = Nest(4, "x"); }), 400},
        {"an 8-level nest of strings in facts",
         with([](json& r) { r["rows"][kToolRow]["facts"][0]["found"] = Nest(8, "3.2.1.0"); }), 400},
        {"an array, not a report", "[1,2,3]", 400},
        {"version 2", with([](json& r) { r["version"] = 2; }), 400},
        {"four rows", with([](json& r) { r["rows"].erase(4); }), 400},
        {"rows out of order",
         with([](json& r) { std::swap(r["rows"][1]["item"], r["rows"][2]["item"]); }), 400},
        {"code as text", with([](json& r) { r["rows"][0]["code"] = "1"; }), 400},
        {"code as a fraction", with([](json& r) { r["rows"][0]["code"] = 1.5; }), 400},
        {"region missing", with([](json& r) { r.erase("region"); }), 400},
        {"found as a number", with([](json& r) { r["rows"][kCaRow]["facts"][0]["found"] = 2; }),
         400},
        {"fact not an object", with([](json& r) { r["rows"][0]["facts"][0] = "x"; }), 400},
        {"system bits 48", with([](json& r) {
             r["system"] = {{"bits", 48}};
         }),
         400},
        {"codes past int's range", with([](json& r) {
             r["rows"][0]["code"] = -4294967296LL;
             r["exitCode"] = 18446744073709551615ULL;
         }),
         201},
        {"unknown members, eight levels deep",
         with([](json& r) { r["rows"][0]["facts"][0]["extra"] = Nest(3, "x"); }), 201},
        {"with a system description", with([](json& r) {
             r["system"] = {{"build", 22631},
                            {"edition", "Professional"},
                            {"bits", 64},
                            {"ieRetired", true},
                            {"edge", nullptr}};
         }),
         201},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UploadResult up = Upload(port_, c.body, "");
        EXPECT_EQ(up.status, c.status) << up.body;
        if (c.status == 400) {
            ASSERT_FALSE(up.body.empty());
            EXPECT_EQ(up.body.find('\n'), up.body.size() - 1) << up.body;
        }
    }
    EXPECT_EQ(store_.Count(), 3);
    bool more = false;
    std::vector<StoredReport> stored = store_.List({}, 10, 0, more);
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored.back().exitCode, INT_MAX);
    EXPECT_TRUE(stored.back().failedRows & (1 << kNetworkRow)); // held at INT_MIN, still failing
}

// One IPv6 machine holds a whole /64: its addresses share one upload limit, as they share
// the connection limit; another /64 has its own. An IPv4 /24 shares a wider budget: its
// addresses each have their own limit until the network's is spent.
TEST_F(SupportServerTest, UploadsAreLimitedPerClientAndPerNetwork) {
    SupportServer::Settings settings;
    settings.token = kToken;
    settings.log = nullptr;
    settings.uploadsPerMinute = 3;
    settings.uploadsPerNetworkPerMinute = 5;
    settings.proxies = {"127.0.0.1"};
    StartWith(settings, 90);
    const std::string body = SampleReport().dump();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Upload(port_, body, "2001:db8:1:2::" + std::to_string(i + 1)).status, 201) << i;
    EXPECT_EQ(Upload(port_, body, "2001:db8:1:2:ffff::9").status, 429);
    EXPECT_EQ(Upload(port_, body, "2001:db8:1:3::1").status, 201);

    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Upload(port_, body, "203.0.113.1").status, 201) << i;
    EXPECT_EQ(Upload(port_, body, "203.0.113.1").status, 429);
    EXPECT_EQ(Upload(port_, body, "203.0.113.2").status, 201);
    EXPECT_EQ(Upload(port_, body, "203.0.113.3").status, 201);
    EXPECT_EQ(Upload(port_, body, "203.0.113.4").status, 429); // the /24's five are spent
    EXPECT_EQ(Upload(port_, body, "203.0.114.1").status, 201);
}

// A page that shows reports is sent only once its access lines are committed: the list for
// each report it shows, a report's page for that report; when they cannot be, 503.
TEST_F(SupportServerTest, PagesThatShowReportsAreSentOnlyWithTheirAccessOnRecord) {
    Start();
    const std::string body = SampleReport().dump();
    const UploadResult first = Upload(port_, body);
    const UploadResult second = Upload(port_, body);
    ASSERT_EQ(second.status, 201);
    auto list = Get("/support/reports", Bearer());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
    for (const std::string& code : {first.code, second.code}) {
        std::vector<AccessLine> lines;
        std::string error;
        ASSERT_TRUE(store_.AccessLines(code, 10, lines, error)) << error;
        ASSERT_EQ(lines.size(), 1u) << code;
        EXPECT_EQ(lines[0].staff, "admin");
    }

    // The access log gone from under the server: nothing of the reports is shown.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "support.sqlite").string().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE access_log", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    // (A report's page reads its earlier accesses first, and fails there.)
    for (const std::string& path : {std::string("/support/reports"), "/support/r/" + first.code}) {
        auto page = Get(path, Bearer());
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, path == "/support/reports" ? 503 : 500) << path;
        EXPECT_EQ(page->body.find(first.code), std::string::npos) << path;
    }
}

TEST_F(SupportServerTest, UploadsAndWrongTokensAreLimitedPerAddress) {
    Start();
    const std::string body = SampleReport().dump();
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(Upload(port_, body).status, 201) << i;
    UploadResult refused = Upload(port_, body);
    EXPECT_EQ(refused.status, 429);
    EXPECT_GE(std::stoi(refused.retryAfter), 1);
    EXPECT_LE(std::stoi(refused.retryAfter), 60);

    // Ten wrong tokens; then the wrong ones wait, and the right one is still let in.
    httplib::Client client("127.0.0.1", port_);
    for (int i = 0; i < 10; ++i) {
        auto res =
            client.Post("/support/login", "token=wrong", "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 403) << i;
    }
    auto blocked =
        client.Post("/support/login", "token=wrong", "application/x-www-form-urlencoded");
    ASSERT_TRUE(blocked);
    EXPECT_EQ(blocked->status, 429);
    EXPECT_FALSE(blocked->get_header_value("Retry-After").empty());
    auto wrongBearer = Get("/support/", Bearer("test-token-0123456789abcdeX"));
    ASSERT_TRUE(wrongBearer);
    EXPECT_EQ(wrongBearer->status, 429);
    auto right = client.Post("/support/login", std::string("token=") + kToken,
                             "application/x-www-form-urlencoded");
    ASSERT_TRUE(right);
    EXPECT_EQ(right->status, 303);
    auto bearer = Get("/support/", Bearer());
    ASSERT_TRUE(bearer);
    EXPECT_EQ(bearer->status, 200);
    // The token counts only from the form's body or the Authorization header.
    auto inQuery = client.Post((std::string("/support/login?token=") + kToken).c_str(), "",
                               "application/x-www-form-urlencoded");
    ASSERT_TRUE(inQuery);
    EXPECT_EQ(inQuery->status, 429);
    auto pageWithQuery = Get(std::string("/support/?token=") + kToken);
    ASSERT_TRUE(pageWithQuery);
    EXPECT_EQ(pageWithQuery->status, 303);

    // The window slides: a minute after the first events the address may go on.
    RateLimiter limiter(2);
    int retry = 0;
    const auto t0 = RateLimiter::Clock::now();
    EXPECT_TRUE(limiter.Allow("a", retry, t0));
    EXPECT_TRUE(limiter.Allow("a", retry, t0 + std::chrono::seconds(30)));
    EXPECT_FALSE(limiter.Allow("a", retry, t0 + std::chrono::seconds(40)));
    EXPECT_EQ(retry, 21);
    EXPECT_TRUE(limiter.Allow("b", retry, t0 + std::chrono::seconds(40)));
    EXPECT_TRUE(limiter.Allow("a", retry, t0 + std::chrono::seconds(61)));

    // A refusal by the network counts for neither; the wait is the longer of the two.
    RateLimiter shared(2, 3);
    EXPECT_TRUE(shared.Allow("a", "n", retry, t0));
    EXPECT_TRUE(shared.Allow("b", "n", retry, t0 + std::chrono::seconds(10)));
    EXPECT_TRUE(shared.Allow("b", "n", retry, t0 + std::chrono::seconds(20)));
    EXPECT_FALSE(shared.Allow("c", "n", retry, t0 + std::chrono::seconds(30)));
    EXPECT_EQ(retry, 31);
    EXPECT_FALSE(shared.Allow("b", "n", retry, t0 + std::chrono::seconds(30)));
    EXPECT_EQ(retry, 41);
    EXPECT_TRUE(shared.Allow("c", "n", retry, t0 + std::chrono::seconds(61)));
    EXPECT_TRUE(shared.Allow("a", "m", retry, t0 + std::chrono::seconds(61)));
}

TEST_F(SupportServerTest, PagesNeedTheSessionCookieOrTheBearerToken) {
    Start();
    for (const char* path : {"/support/", "/support/reports", "/support/r/K7QF3MZP"}) {
        SCOPED_TRACE(path);
        auto anonymous = Get(path);
        ASSERT_TRUE(anonymous);
        EXPECT_EQ(anonymous->status, 303);
        EXPECT_EQ(anonymous->get_header_value("Location"), "/support/login");
        auto wrong = Get(path, Bearer("test-token-0123456789abcdeX"));
        ASSERT_TRUE(wrong);
        EXPECT_EQ(wrong->status, 401);
        auto forged = Get(path, {{"Cookie", "quelda_support=" + std::string(64, 'a')}});
        ASSERT_TRUE(forged);
        EXPECT_EQ(forged->status, 303);
    }
    auto login = Get("/support/login");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->status, 200);
    EXPECT_EQ(login->get_header_value("Content-Security-Policy")
                  .rfind("default-src 'none'; style-src 'self'; img-src 'self' data:", 0),
              0u);
    EXPECT_EQ(login->get_header_value("X-Content-Type-Options"), "nosniff");

    httplib::Client client("127.0.0.1", port_);
    auto in = client.Post("/support/login", std::string("token=") + kToken,
                          "application/x-www-form-urlencoded");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->status, 303);
    const std::string cookie = in->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos) << cookie;
    const std::string session = cookie.substr(0, cookie.find(';'));
    auto overview = Get("/support/", {{"Cookie", "other=1; " + session}});
    ASSERT_TRUE(overview);
    EXPECT_EQ(overview->status, 200);
    EXPECT_NE(overview->body.find("总览"), std::string::npos);

    auto out = client.Post("/support/logout", {{"Cookie", session}}, "", "text/plain");
    ASSERT_TRUE(out);
    auto after = Get("/support/", {{"Cookie", session}});
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 303);
}

TEST_F(SupportServerTest, TokenFileIsCreatedPrivateAndThenRead) {
    const std::string file = (dir_ / "token").string();
    std::string token, again, error;
    bool created = false;
    ASSERT_TRUE(LoadOrCreateToken(file, token, created, error)) << error;
    EXPECT_TRUE(created);
    EXPECT_GE(token.size(), 32u);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_TRUE(LoadOrCreateToken(file, again, created, error)) << error;
    EXPECT_FALSE(created);
    EXPECT_EQ(again, token);

    std::ofstream(dir_ / "short") << std::string(23, 'a') << "\n";
    EXPECT_FALSE(LoadOrCreateToken((dir_ / "short").string(), token, created, error));
    EXPECT_NE(error.find("at least 24 characters"), std::string::npos) << error;
    std::ofstream(dir_ / "enough") << std::string(24, 'a') << "\n";
    EXPECT_TRUE(LoadOrCreateToken((dir_ / "enough").string(), token, created, error)) << error;
    EXPECT_TRUE(SameSecret("abc", "abc"));
    EXPECT_FALSE(SameSecret("abc", "abd"));
    EXPECT_FALSE(SameSecret("abc", "abcd"));
}

TEST_F(SupportServerTest, CodesNormalizeAsCrockfordReadsThem) {
    const struct {
        const char* typed;
        const char* code;
    } cases[] = {{"K7QF-3MZP", "K7QF3MZP"}, {"k7qf3mzp", "K7QF3MZP"}, {" k7qf - 3mzp ", "K7QF3MZP"},
                 {"OIL0-0000", "01100000"}, {"K7QF3MZ", ""},          {"K7QF3MZPQ", ""},
                 {"K7QF-3MZU", ""},         {"K7QF<3MZ", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(NormalizeReportCode(c.typed), c.code) << c.typed;
    std::set<std::string> codes;
    for (int i = 0; i < 200; ++i)
        codes.insert(NewReportCode());
    EXPECT_EQ(codes.size(), 200u);
    for (const std::string& c : codes)
        EXPECT_EQ(NormalizeReportCode(c), c);
}

TEST_F(SupportServerTest, OlderReportsAreDeletedAtStartAndTheOverviewCountsItsPeriod) {
    NewReport old, recent;
    old.received = std::time(nullptr) - 91 * 86400;
    recent.received = std::time(nullptr) - 89 * 86400;
    for (NewReport* r : {&old, &recent}) {
        r->address = "10.0.0.1";
        r->body = SampleReport().dump();
        r->digest = DigestReport(SampleReport());
    }
    std::vector<NewReport*> batch{&old, &recent};
    std::string error;
    ASSERT_TRUE(store_.Insert(batch, error)) << error;
    ASSERT_EQ(store_.Count(), 2);
    Start(90);
    for (int i = 0; i < 200 && store_.Count() != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    StoredReport found;
    EXPECT_FALSE(store_.Find(old.code, found));
    EXPECT_TRUE(store_.Find(recent.code, found));
    // The overview counts what came in during its period: the fresh upload, not the report
    // of 89 days ago.
    json fresh = SampleReport();
    fresh["system"] = {{"build", 19045}, {"bits", 64}};
    ASSERT_EQ(Upload(port_, fresh.dump()).status, 201);
    auto overview = Get("/support/", Bearer());
    ASSERT_TRUE(overview);
    EXPECT_NE(overview->body.find("河北：1 份报告"), std::string::npos) << overview->body;
    EXPECT_NE(overview->body.find("<li>河北：CA 驱动 QdCaDriver.dll 2.1.0.7 占 100%，应为 2.1.0.8"),
              std::string::npos);
    EXPECT_NE(overview->body.find("Windows 10 100%；64 位 100%"), std::string::npos);
    EXPECT_NE(overview->body.find("<rect class=\"bar\""), std::string::npos);
}

// The day and hour counters serve whole days and hours; the part of an hour at the start of
// a period comes from the minute counters, so a period starts within its first minute.
TEST_F(SupportServerTest, OverviewPeriodsStartAtTheirExactSecond) {
    const std::int64_t now = std::time(nullptr);
    std::vector<NewReport> reports(4);
    const std::int64_t ages[] = {86400 + 60, 86400 - 60, 3600, 0};
    std::vector<NewReport*> batch;
    for (size_t i = 0; i < reports.size(); ++i) {
        reports[i].received = now - ages[i];
        reports[i].address = "10.0.0.1";
        reports[i].body = SampleReport().dump();
        reports[i].digest = DigestReport(SampleReport());
        batch.push_back(&reports[i]);
    }
    std::string error;
    ASSERT_TRUE(store_.Insert(batch, error)) << error;
    const auto day = store_.Overview(now - 86400);
    ASSERT_EQ(day.count("hebei"), 1u);
    EXPECT_EQ(day.at("hebei").reports, 3);
    EXPECT_EQ(day.at("hebei").failing[kCaRow], 3);
    ASSERT_EQ(day.at("hebei").versions.size(), 2u);
    EXPECT_EQ(day.at("hebei").versions[0].total, 3);
    EXPECT_EQ(store_.Overview(now - 7 * 86400).at("hebei").reports, 4);
    EXPECT_EQ(store_.Overview(now - 1800).at("hebei").reports, 1);
}

// Recent reports: newest first, 50 a page, filtered by region, failed row and dates (China
// Standard Time days).
TEST_F(SupportServerTest, RecentReportsPageAndFilter) {
    const std::int64_t day = 86400, jan1 = 1704038400; // 2024-01-01 00:00 UTC+8
    std::vector<NewReport> reports(120);
    std::vector<NewReport*> batch;
    for (int i = 0; i < 120; ++i) {
        json report = SampleReport();
        report["region"] = i % 2 ? "hebei" : "shanxi";
        if (i % 3 == 0)
            report["rows"][kCaRow]["code"] = 1;
        reports[i].received = jan1 + i * day / 4; // four a day from 1 January
        reports[i].address = "10.0.0.1";
        reports[i].body = report.dump();
        reports[i].digest = DigestReport(report);
        batch.push_back(&reports[i]);
    }
    std::string error;
    ASSERT_TRUE(store_.Insert(batch, error)) << error;
    Start(0);
    const struct {
        const char* query;
        int rows;
        const char* newest; // index of the first report listed
        bool next;
    } cases[] = {
        {"", 50, "119", true},
        {"?page=1", 50, "69", true},
        {"?page=2", 20, "19", false},
        {"?region=hebei", 50, "119", true},
        {"?region=shanxi&failed=ca&page=0", 40, "118", false}, // even and not a multiple of 3
        {"?from=2024-01-02&to=2024-01-02", 4, "7", false},     // the four of 2 January
        {"?region=hebei&from=2024-01-30", 2, "119", false},    // 117 and 119
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        auto page = Get(std::string("/support/reports") + c.query, Bearer());
        ASSERT_TRUE(page);
        ASSERT_EQ(page->status, 200);
        const std::string& body = page->body;
        int rows = 0;
        for (size_t at = body.find("href=\"/support/r/"); at != std::string::npos;
             at = body.find("href=\"/support/r/", at + 1))
            ++rows;
        EXPECT_EQ(rows, c.rows);
        const std::string first = reports[std::stoi(c.newest)].code;
        EXPECT_NE(body.find("href=\"/support/r/" + first + "\""), std::string::npos);
        EXPECT_LT(body.find("/support/r/" + first), body.find("</table>"));
        EXPECT_EQ(body.find("下一页") != std::string::npos, c.next);
    }
    for (const char* bad : {"?from=2024-13-01", "?failed=printer", "?page=-1"}) {
        auto page = Get(std::string("/support/reports") + bad, Bearer());
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 400) << bad;
    }
}

} // namespace
