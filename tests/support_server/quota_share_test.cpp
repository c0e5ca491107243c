// The database's quota shared by address groups, and the -wal file counted and kept small.
#include "raw_client.h"
#include "report_samples.h"
#include "server_fixture.h"
#include "support_server.h"

#include "engine/report/report_shape.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// About 24 KB: the sample with 50 network facts that each carry a 400-character note.
json LargeReport() {
    json report = SampleReport();
    json& facts = report["rows"][kNetworkRow]["facts"];
    for (int i = 0; i < 50; ++i)
        facts.push_back({{"name", "response"},
                         {"entry", nullptr},
                         {"where", "http://10.1.2.3:8080/envcheck/config.json"},
                         {"expected", "HTTP 200"},
                         {"found", "HTTP 200"},
                         {"ok", true},
                         {"note", std::string(400, 'n')}});
    return report;
}

class QuotaShareTest : public SupportServerFixture {
  protected:
    void Start(std::int64_t quota) {
        SupportServer::Settings settings;
        settings.proxies = {"127.0.0.1"}; // X-Real-IP says which group an upload is from
        settings.uploadsPerMinute = settings.uploadsPerNetworkPerMinute = 1 << 20;
        StartWith(settings, 0, true, quota);
    }
    // Uploads from addresses of `network` ("203.0.113.") until one is refused; how many were
    // stored before.
    int FillFrom(const std::string& network, const std::string& body) {
        for (int stored = 0; stored < 1000; ++stored) {
            const UploadResult up = Upload(port_, body, network + std::to_string(stored % 250));
            if (up.status != 201) {
                EXPECT_EQ(up.status, 507) << up.body;
                return stored;
            }
        }
        ADD_FAILURE() << network << " was never refused";
        return 1000;
    }
};

TEST_F(QuotaShareTest, GroupsThatFillTheirShareLeaveRoomForOthers) {
    const std::int64_t quota = 8 << 20;
    Start(quota);
    const std::string body = LargeReport().dump();
    // Three networks fill their shares, each one a smaller share of what is left.
    std::vector<int> stored;
    for (const char* network : {"203.0.113.", "198.51.100.", "100.64.7."})
        stored.push_back(FillFrom(network, body));
    EXPECT_GT(stored[0], 10);
    EXPECT_LT(stored[0], static_cast<int>(quota / 4 / body.size()));
    EXPECT_LE(stored[1], stored[0]);
    EXPECT_LE(stored[2], stored[1]);
    std::string error;
    EXPECT_LT(store_.UsedBytes(error), quota * 3 / 4) << error;
    // Another address of a full /24 is refused; a fresh network is not.
    EXPECT_EQ(Upload(port_, body, "203.0.113.251").status, 507);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Upload(port_, body, "192.0.2." + std::to_string(i)).status, 201);
    // IPv6 clients are grouped by their /64.
    const int v6 = FillFrom("2001:db8:0:1::", body);
    EXPECT_GT(v6, 0);
    EXPECT_EQ(Upload(port_, body, "2001:db8:0:1:ffff::1").status, 507);
    EXPECT_EQ(Upload(port_, body, "2001:db8:0:2::1").status, 201);
    EXPECT_NE(Log().find("quota: address group 203.0.113.0/24 holds"), std::string::npos) << Log();
}

// What a group holds is given back when retention deletes its reports.
TEST_F(QuotaShareTest, RetentionGivesAGroupItsShareBack) {
    const std::int64_t now = std::time(nullptr);
    std::vector<NewReport> reports(3);
    std::vector<NewReport*> batch;
    for (size_t i = 0; i < reports.size(); ++i) {
        reports[i].received = i == 0 ? now : now - 10 * 86400;
        reports[i].address = "203.0.113." + std::to_string(i + 1);
        reports[i].body = SampleReport().dump();
        reports[i].digest = DigestReport(SampleReport());
        batch.push_back(&reports[i]);
    }
    std::string error;
    ASSERT_TRUE(store_.Insert(batch, error)) << error;
    std::int64_t held = 0;
    ASSERT_TRUE(store_.GroupBytes("203.0.113.0/24", held, error)) << error;
    const std::int64_t each = held / 3;
    EXPECT_GT(each, static_cast<std::int64_t>(reports[0].body.size()));
    EXPECT_EQ(store_.DeleteBefore(now - 86400, error), 2) << error;
    ASSERT_TRUE(store_.GroupBytes("203.0.113.0/24", held, error)) << error;
    EXPECT_EQ(held, each);
}

// A reader that holds an old snapshot keeps the -wal file growing; it counts toward the
// quota, and once the reader is gone the file is cut back.
TEST_F(QuotaShareTest, TheWalCountsAndIsCutBack) {
    SqliteDb reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file_, error)) << error;
    ASSERT_TRUE(reader.Exec("BEGIN; SELECT COUNT(*) FROM reports;", error)) << error;
    const std::int64_t before = store_.UsedBytes(error);
    const std::string body = LargeReport().dump();
    for (int b = 0; b < 6; ++b) {
        std::vector<NewReport> reports(100);
        std::vector<NewReport*> batch;
        for (NewReport& r : reports) {
            r.received = std::time(nullptr);
            r.address = "192.0.2.1";
            r.body = body;
            r.digest = DigestReport(LargeReport());
            batch.push_back(&r);
        }
        ASSERT_TRUE(store_.Insert(batch, error)) << error;
        store_.TrimWal(); // cannot checkpoint past the reader
    }
    const std::string wal = file_ + "-wal";
    const auto walBytes = static_cast<std::int64_t>(fs::file_size(wal));
    EXPECT_GT(walBytes, 600 * static_cast<std::int64_t>(body.size()));
    EXPECT_GE(store_.UsedBytes(error) - before, walBytes);
    ASSERT_TRUE(reader.Exec("COMMIT", error)) << error;
    store_.TrimWal();
    EXPECT_LT(fs::file_size(wal), 1u << 20);
}

} // namespace
