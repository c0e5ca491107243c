// The overview's counters: bounded whatever names uploads make up, kept per minute, hour and
// day as reports are stored, and filled once from a database of the older schema.
#include "overview_tally.h"
#include "peak_rss.h"
#include "report_samples.h"
#include "report_store.h"
#include "storage_share.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

class OverviewBoundsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("overview-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = (dir_ / "s.sqlite").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // `count` reports from `report(i)`, received `now`, in batches of 100.
    template <typename MakeReport>
    void Store(ReportStore& store, int count, std::int64_t now, MakeReport report) {
        for (int done = 0; done < count;) {
            std::vector<NewReport> reports(std::min(100, count - done));
            std::vector<NewReport*> batch;
            for (NewReport& r : reports) {
                const json body = report(done++);
                r.received = now;
                r.address = "10.0.0.1";
                r.body = body.dump();
                r.digest = DigestReport(body);
                batch.push_back(&r);
            }
            std::string error;
            ASSERT_TRUE(store.Insert(batch, error)) << error;
        }
    }
    std::int64_t CounterRows() {
        SqliteDb db;
        std::string error;
        EXPECT_TRUE(db.Open(file_, error)) << error;
        Statement rows(db, "SELECT COUNT(*) FROM overview_counts");
        return rows.Step() == SQLITE_ROW ? rows.Int(0) : -1;
    }

    fs::path dir_;
    std::string file_;
};

const ComponentVersions* Component(const RegionOverview& o, const std::string& name) {
    for (const ComponentVersions& c : o.versions)
        if (c.component == name)
            return &c;
    return nullptr;
}

// Fresh names are folded into "其他" while the names many reports share stay, and every
// version fact is still counted once.
TEST_F(OverviewBoundsTest, MadeUpNamesAreFoldedAndFrequentOnesKept) {
    ReportStore store;
    std::string error;
    ASSERT_TRUE(store.Open(file_, error)) << error;
    const std::int64_t now = std::time(nullptr);
    std::mt19937 random(3);
    // Every third report is the sample (the tool and QdCaDriver.dll at old versions).
    Store(store, 600, now,
          [&](int i) { return i % 3 == 0 ? SampleReport() : RandomNameReport(random); });
    const auto day = store.Overview(now - 86400);
    ASSERT_EQ(day.count("hebei"), 1u);
    const RegionOverview& o = day.at("hebei");
    EXPECT_EQ(o.reports, 600);
    EXPECT_LE(o.versions.size(), static_cast<size_t>(2 * kKeptComponents + 1));
    const ComponentVersions* driver = Component(o, "CA 驱动 QdCaDriver.dll");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->total, 200);
    EXPECT_EQ(driver->expected, "2.1.0.8");
    ASSERT_FALSE(driver->found.empty());
    EXPECT_EQ(driver->found[0], std::make_pair(std::string("2.1.0.7"), 200));
    const ComponentVersions* other = Component(o, kOtherName);
    ASSERT_NE(other, nullptr);
    int facts = 0;
    for (const ComponentVersions& c : o.versions) {
        facts += c.total;
        int found = 0;
        for (const auto& f : c.found)
            found += f.second;
        EXPECT_EQ(found, c.total) << c.component;
    }
    EXPECT_EQ(facts, 200 * 2 + 400 * 16);
}

// A driver that bidders' reports named the day before keeps its own line while each batch
// brings it once among hundreds of made-up names (its name sorts after theirs).
TEST_F(OverviewBoundsTest, NamesKeptTheDayBeforeStayDuringAFlood) {
    ReportStore store;
    std::string error;
    ASSERT_TRUE(store.Open(file_, error)) << error;
    json known = SampleReport();
    known["rows"][kCaRow]["facts"][0]["where"] = "C:\\CA\\~driver.dll";
    const std::int64_t now = std::time(nullptr);
    const std::int64_t yesterday = (now / 86400 - 1) * 86400 + 1;
    Store(store, 3, yesterday, [&](int) { return known; });
    std::mt19937 random(9);
    Store(store, 1000, now, [&](int i) { return i % 100 == 0 ? known : RandomNameReport(random); });
    const auto day = store.Overview(now - 86400);
    ASSERT_EQ(day.count("hebei"), 1u);
    const RegionOverview& o = day.at("hebei");
    EXPECT_EQ(o.reports, 1000);
    const ComponentVersions* driver = Component(o, "CA 驱动 ~driver.dll");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->total, 10);
    EXPECT_EQ(driver->expected, "2.1.0.8");
    EXPECT_EQ(driver->found.at(0), std::make_pair(std::string("2.1.0.7"), 10));
}

// Twice as many uploads of made-up names: the counters, the overview's time and the memory
// it takes stay where they were.
TEST_F(OverviewBoundsTest, OverviewTimeAndMemoryDoNotGrowWithMadeUpNames) {
    ReportStore store;
    std::string error;
    ASSERT_TRUE(store.Open(file_, error)) << error;
    const std::int64_t now = std::time(nullptr);
    std::mt19937 random(5);
    auto measure = [&](double& ms, long& kib) {
        ResetPeakRss();
        const long before = PeakRssKiB();
        const auto start = std::chrono::steady_clock::now();
        std::map<std::string, RegionOverview> day, week;
        ASSERT_TRUE(store.Overview(now - 86400, day, error)) << error;
        ASSERT_TRUE(store.Overview(now - 7 * 86400, week, error)) << error;
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
        kib = PeakRssKiB() - before;
        ASSERT_EQ(week.at("hebei").reports, day.at("hebei").reports);
    };
    Store(store, 1500, now, [&](int) { return RandomNameReport(random); });
    const std::int64_t rows = CounterRows();
    double firstMs = 0;
    long firstKiB = 0;
    measure(firstMs, firstKiB);
    Store(store, 1500, now, [&](int) { return RandomNameReport(random); });
    double secondMs = 0;
    long secondKiB = 0;
    measure(secondMs, secondKiB);
    // Per span a region's bucket holds at most 2 * kKeptComponents components (and "其他"),
    // each with its counters: nothing like the 3,000 * 16 names sent.
    EXPECT_LE(CounterRows(), rows + 3 * 2 * 3 * kKeptComponents);
    EXPECT_LT(CounterRows(), 1000);
    EXPECT_LT(secondMs, 50.0 + 2 * firstMs);
    EXPECT_LT(secondKiB, 4096 + 2 * firstKiB);
}

// Periods are made of minute, hour and day counters that cover them without gaps.
TEST(OverviewRanges, ThePeriodIsCoveredFromItsMinuteOn) {
    const std::int64_t since = 1704067200 + 5 * 3600 + 17 * 60 + 42; // 2024-01-01 05:17:42 UTC
    const std::vector<CountRange> ranges = RangesSince(since);
    ASSERT_EQ(ranges.size(), 3u);
    std::int64_t covered = since / 60 * 60;
    for (const CountRange& r : ranges) {
        EXPECT_EQ(r.from * r.span, covered) << r.span;
        if (r.to != INT64_MAX)
            covered = r.to * r.span;
    }
    EXPECT_EQ(ranges[0].to - ranges[0].from, 60 - 17);
    EXPECT_EQ(ranges[1].to - ranges[1].from, 24 - 6);
    EXPECT_EQ(ranges[2].to, INT64_MAX);
}

// A database of schema version 2: reports with their version rows and hourly counters. Once
// opened, the overview counts them, lookups find them, and their group holds their bytes.
TEST_F(OverviewBoundsTest, AnOlderDatabaseIsCountedOnceWhenOpened) {
    const std::int64_t now = std::time(nullptr);
    {
        SqliteDb db;
        std::string error;
        ASSERT_TRUE(db.Open(file_, error)) << error;
        const std::string sql =
            "CREATE TABLE reports(id INTEGER PRIMARY KEY, code TEXT NOT NULL UNIQUE, received "
            "INTEGER NOT NULL, address TEXT NOT NULL, region TEXT NOT NULL, tool_version TEXT NOT "
            "NULL, exit_code INTEGER NOT NULL, code_network INTEGER, code_dotnet INTEGER, code_ie "
            "INTEGER, code_tool INTEGER, code_ca INTEGER, failed INTEGER NOT NULL, windows TEXT, "
            "bits INTEGER, body TEXT NOT NULL);"
            "CREATE TABLE versions(received INTEGER NOT NULL, region TEXT NOT NULL, component "
            "TEXT NOT NULL, found TEXT NOT NULL, expected TEXT NOT NULL);"
            "CREATE TABLE hourly_counts(hour INTEGER NOT NULL, region TEXT NOT NULL, kind "
            "INTEGER NOT NULL, a TEXT NOT NULL, b TEXT NOT NULL, c TEXT NOT NULL, n INTEGER NOT "
            "NULL, PRIMARY KEY(hour, region, kind, a, b, c)) WITHOUT ROWID;"
            "CREATE TABLE staff(name TEXT PRIMARY KEY, token_hash TEXT NOT NULL UNIQUE, created "
            "INTEGER NOT NULL);"
            "CREATE TABLE access_log(id INTEGER PRIMARY KEY, code TEXT NOT NULL, staff TEXT NOT "
            "NULL, at INTEGER NOT NULL);"
            "INSERT INTO reports VALUES(1, 'K7QF3MZP', " +
            std::to_string(now - 600) +
            ", '192.0.2.7', 'shanxi', '1.0', 1, 1, 1, 1, -4, -4, 24, 'Windows 10', 64, "
            "'{\"a\":1}');"
            "INSERT INTO reports VALUES(2, 'K7QF3MZQ', " +
            std::to_string(now - 30 * 86400) +
            ", '192.0.2.8', 'shanxi', '1.0', 1, 1, 1, 1, -4, -4, 24, NULL, NULL, '{}');"
            "INSERT INTO versions VALUES(" +
            std::to_string(now - 600) +
            ", 'shanxi', '投标工具', '3.1.0.0', '3.2.1.0');"
            "PRAGMA user_version = 2;";
        ASSERT_TRUE(db.Exec(sql.c_str(), error)) << error;
    }
    ReportStore store;
    std::string error;
    ASSERT_TRUE(store.Open(file_, error)) << error;
    const auto week = store.Overview(now - 7 * 86400);
    ASSERT_EQ(week.count("shanxi"), 1u);
    const RegionOverview& o = week.at("shanxi");
    EXPECT_EQ(o.reports, 1);
    EXPECT_EQ(o.failing[kToolRow], 1);
    EXPECT_EQ(o.windows.at("Windows 10"), 1);
    EXPECT_EQ(o.bits64, 1);
    ASSERT_EQ(o.versions.size(), 1u);
    EXPECT_EQ(o.versions[0].expected, "3.2.1.0");
    EXPECT_EQ(o.versions[0].found.at(0).first, "3.1.0.0");
    StoredReport found;
    EXPECT_TRUE(store.Find("K7QF3MZP", found));
    std::int64_t bytes = 0;
    ASSERT_TRUE(store.GroupBytes("192.0.2.0/24", bytes, error)) << error;
    EXPECT_EQ(bytes, ReportBytes("{\"a\":1}", "192.0.2.7") + ReportBytes("{}", "192.0.2.8"));
    // New reports are counted beside the converted ones.
    Store(store, 1, now, [](int) { return SampleReport(); });
    EXPECT_EQ(store.Overview(now - 86400).at("hebei").reports, 1);
}

} // namespace
