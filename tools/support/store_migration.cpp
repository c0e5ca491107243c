#include "store_migration.h"

#include "net_address.h"
#include "overview_tally.h"
#include "storage_share.h"

#include <map>

namespace {

const char kSchema3[] = R"(
CREATE TABLE IF NOT EXISTS overview_counts(
    span INTEGER NOT NULL,
    start INTEGER NOT NULL,
    region TEXT NOT NULL,
    kind INTEGER NOT NULL,
    a TEXT NOT NULL,
    b TEXT NOT NULL,
    n INTEGER NOT NULL,
    PRIMARY KEY(span, start, region, kind, a, b)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS group_bytes(
    grp TEXT PRIMARY KEY,
    bytes INTEGER NOT NULL) WITHOUT ROWID;
)";

const char kDropOld[] = R"(
DROP TABLE IF EXISTS hourly_counts;
DROP TABLE IF EXISTS versions;
PRAGMA user_version = 3;
)";

constexpr std::int64_t kCountedBack = 8 * 86400;
constexpr int kChunk = 5000;

bool Failed(const SqliteDb& db, std::string& error) {
    error = db.Error();
    return false;
}

// Counts `sql`'s rows (id first, then received) in chunks of kChunk, each written before the
// next is read, so that memory stays bounded whatever the database holds.
template <typename AddRow>
bool CountRows(SqliteDb& db, const char* sql, std::int64_t since, AddRow addRow,
               std::string& error) {
    Statement rows(db, sql);
    if (!rows.ok())
        return Failed(db, error);
    std::int64_t after = -1;
    for (;;) {
        OverviewTally tally;
        rows.Reset();
        rows.Bind(1, after).Bind(2, since).Bind(3, std::int64_t{kChunk});
        int rc, n = 0;
        while ((rc = rows.Step()) == SQLITE_ROW) {
            after = rows.Int(0);
            addRow(rows, tally);
            ++n;
        }
        if (rc != SQLITE_DONE)
            return Failed(db, error);
        if (!tally.Write(db, error))
            return false;
        if (n < kChunk)
            return true;
    }
}

bool CountReports(SqliteDb& db, std::int64_t since, std::string& error) {
    auto add = [](const Statement& row, OverviewTally& tally) {
        ReportDigest d;
        d.region = row.Text(2);
        d.failedRows = static_cast<int>(row.Int(3));
        d.windows = row.Text(4);
        d.bits = static_cast<int>(row.Int(5));
        tally.Add(d, row.Int(1));
    };
    return CountRows(db,
                     "SELECT id, received, region, failed, windows, bits FROM reports "
                     "WHERE id > ? AND received >= ? ORDER BY id LIMIT ?",
                     since, add, error);
}

bool CountVersions(SqliteDb& db, std::int64_t since, std::string& error) {
    auto add = [](const Statement& row, OverviewTally& tally) {
        const std::string region = row.Text(2), component = row.Text(3);
        tally.Add({region, CountKind::Component, component, ""}, row.Int(1), 1);
        tally.Add({region, CountKind::Expected, component, row.Text(4)}, row.Int(1), 1);
        tally.Add({region, CountKind::Found, component, row.Text(5)}, row.Int(1), 1);
    };
    return CountRows(db,
                     "SELECT rowid, received, region, component, expected, found FROM versions "
                     "WHERE rowid > ? AND received >= ? ORDER BY rowid LIMIT ?",
                     since, add, error);
}

bool ChargeGroups(const SqliteDb& db, std::string& error) {
    Statement held(db, "SELECT address, SUM(length(CAST(body AS BLOB))), COUNT(*) FROM reports "
                       "GROUP BY address");
    std::map<std::string, std::int64_t> groups;
    int rc;
    while ((rc = held.Step()) == SQLITE_ROW) {
        const std::string address = held.Text(0);
        groups[AddressGroup(address)] += held.Int(1) + held.Int(2) * ReportBytes("", address);
    }
    if (rc != SQLITE_DONE)
        return Failed(db, error);
    Statement charge(db, "INSERT OR REPLACE INTO group_bytes VALUES(?,?)");
    for (const auto& [group, bytes] : groups) {
        charge.Reset();
        charge.Bind(1, group).Bind(2, bytes);
        if (charge.Step() != SQLITE_DONE)
            return Failed(db, error);
    }
    return true;
}

} // namespace

bool MigrateToVersion3(SqliteDb& db, std::int64_t now, std::string& error) {
    if (!db.Exec(kSchema3, error))
        return false;
    bool versions = false;
    {
        Statement hasVersions(db, "SELECT 1 FROM sqlite_master WHERE name = 'versions'");
        versions = hasVersions.Step() == SQLITE_ROW;
    }
    const std::int64_t since = now - kCountedBack;
    return CountReports(db, since, error) && (!versions || CountVersions(db, since, error)) &&
           ChargeGroups(db, error) && db.Exec(kDropOld, error);
}
