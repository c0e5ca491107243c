#include "report_store.h"

#include "report_code.h"

namespace {

constexpr int kSchemaVersion = 1;

// `failed` has bit i set when row i failed; `windows` and `bits` are null without a system
// description. hourly_counts holds the overview's counters per hour (CountKind, CountKeys).
const char kSchema[] = R"(
CREATE TABLE reports(
    id INTEGER PRIMARY KEY,
    code TEXT NOT NULL UNIQUE,
    received INTEGER NOT NULL,
    address TEXT NOT NULL,
    region TEXT NOT NULL,
    tool_version TEXT NOT NULL,
    exit_code INTEGER NOT NULL,
    code_network INTEGER, code_dotnet INTEGER, code_ie INTEGER, code_tool INTEGER,
    code_ca INTEGER,
    failed INTEGER NOT NULL,
    windows TEXT,
    bits INTEGER,
    body TEXT NOT NULL);
CREATE INDEX reports_by_time ON reports(received, region, failed, windows, bits);
CREATE INDEX reports_by_region ON reports(region, received);
CREATE TABLE versions(
    received INTEGER NOT NULL,
    region TEXT NOT NULL,
    component TEXT NOT NULL,
    found TEXT NOT NULL,
    expected TEXT NOT NULL);
CREATE INDEX versions_by_time ON versions(received, region, component, expected, found);
CREATE TABLE hourly_counts(
    hour INTEGER NOT NULL,
    region TEXT NOT NULL,
    kind INTEGER NOT NULL,
    a TEXT NOT NULL,
    b TEXT NOT NULL,
    c TEXT NOT NULL,
    n INTEGER NOT NULL,
    PRIMARY KEY(hour, region, kind, a, b, c)) WITHOUT ROWID;
PRAGMA user_version = 1;
)";

} // namespace

bool ReportStore::Open(const std::string& file, std::string& error) {
    if (!writer_.Open(file, error))
        return false;
    // FULL: every commit is on the disk (the WAL synced) before a code is given out, so not
    // even a power cut loses an acknowledged report. Commits are grouped (UploadWriter), so
    // the sync is paid once per group, not per report.
    if (!writer_.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", error) ||
        !CreateSchema(error))
        return false;
    return reader_.Open(file, error);
}

bool ReportStore::CreateSchema(std::string& error) {
    Statement version(writer_, "PRAGMA user_version");
    if (version.Step() != SQLITE_ROW) {
        error = writer_.Error();
        return false;
    }
    const std::int64_t found = version.Int(0);
    if (found == kSchemaVersion)
        return true;
    if (found != 0) {
        error = "the database has schema version " + std::to_string(found) +
                "; this program knows version " + std::to_string(kSchemaVersion);
        return false;
    }
    std::string sql = std::string("BEGIN IMMEDIATE;") + kSchema + "COMMIT;";
    if (writer_.Exec(sql.c_str(), error))
        return true;
    std::string ignored;
    writer_.Exec("ROLLBACK", ignored);
    return false;
}

bool ReportStore::Insert(std::vector<NewReport*>& batch, std::string& error) {
    if (!writer_.Exec("BEGIN IMMEDIATE", error))
        return false;
    Statement report(writer_, "INSERT INTO reports(code, received, address, region, tool_version, "
                              "exit_code, code_network, code_dotnet, code_ie, code_tool, code_ca, "
                              "failed, windows, bits, body) "
                              "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    Statement version(writer_, "INSERT INTO versions(received, region, component, found, "
                               "expected) VALUES(?,?,?,?,?)");
    Statement count(writer_, "INSERT INTO hourly_counts VALUES(?,?,?,?,?,?,1) "
                             "ON CONFLICT(hour, region, kind, a, b, c) DO UPDATE SET n = n + 1");
    bool ok = report.ok() && version.ok() && count.ok();
    for (NewReport* r : batch) {
        if (!ok)
            break;
        const ReportDigest& d = r->digest;
        int rc = SQLITE_CONSTRAINT;
        // A new code until it is unique: with 40 bits a collision is rare even in years.
        for (int attempt = 0; attempt < 16 && rc == SQLITE_CONSTRAINT; ++attempt) {
            r->code = NewReportCode();
            if (r->code.empty())
                break;
            report.Reset();
            report.Bind(1, r->code).Bind(2, r->received).Bind(3, r->address).Bind(4, d.region);
            report.Bind(5, d.toolVersion).Bind(6, std::int64_t{d.exitCode});
            for (int i = 0; i < kRowCount; ++i) {
                if (d.codes[i])
                    report.Bind(7 + i, std::int64_t{*d.codes[i]});
                else
                    report.BindNull(7 + i);
            }
            report.Bind(12, std::int64_t{d.failedRows});
            if (d.windows.empty())
                report.BindNull(13).BindNull(14);
            else
                report.Bind(13, d.windows);
            if (d.bits)
                report.Bind(14, std::int64_t{d.bits});
            report.Bind(15, r->body);
            rc = report.Step();
        }
        if (rc != SQLITE_DONE) {
            ok = false;
            break;
        }
        for (const VersionSeen& v : d.versions) {
            version.Reset();
            version.Bind(1, r->received).Bind(2, d.region).Bind(3, v.component);
            version.Bind(4, v.found).Bind(5, v.expected);
            if (version.Step() != SQLITE_DONE) {
                ok = false;
                break;
            }
        }
        for (const CountKey& key : CountKeys(d)) {
            count.Reset();
            count.Bind(1, r->received / 3600).Bind(2, key.region);
            count.Bind(3, static_cast<std::int64_t>(key.kind));
            count.Bind(4, key.a).Bind(5, key.b).Bind(6, key.c);
            if (count.Step() != SQLITE_DONE) {
                ok = false;
                break;
            }
        }
    }
    if (ok && writer_.Exec("COMMIT", error))
        return true;
    if (error.empty())
        error = writer_.Error();
    std::string ignored;
    writer_.Exec("ROLLBACK", ignored);
    for (NewReport* r : batch)
        r->code.clear();
    return false;
}

std::int64_t ReportStore::DeleteBefore(std::int64_t cutoff, std::string& error) {
    if (!writer_.Exec("BEGIN IMMEDIATE", error))
        return -1;
    Statement reports(writer_, "DELETE FROM reports WHERE received < ?");
    Statement versions(writer_, "DELETE FROM versions WHERE received < ?");
    Statement counts(writer_, "DELETE FROM hourly_counts WHERE hour < ?");
    reports.Bind(1, cutoff);
    versions.Bind(1, cutoff);
    counts.Bind(1, cutoff / 3600);
    std::int64_t deleted = -1;
    if (reports.Step() == SQLITE_DONE) {
        deleted = sqlite3_changes(writer_.handle());
        if (versions.Step() != SQLITE_DONE || counts.Step() != SQLITE_DONE)
            deleted = -1;
    }
    if (deleted >= 0 && writer_.Exec("COMMIT", error))
        return deleted;
    if (error.empty())
        error = writer_.Error();
    std::string ignored;
    writer_.Exec("ROLLBACK", ignored);
    return -1;
}

namespace {

const char kReportColumns[] =
    "code, received, address, region, tool_version, exit_code, failed, body";

StoredReport ReadReport(const Statement& s) {
    StoredReport r;
    r.code = s.Text(0);
    r.received = s.Int(1);
    r.address = s.Text(2);
    r.region = s.Text(3);
    r.toolVersion = s.Text(4);
    r.exitCode = static_cast<int>(s.Int(5));
    r.failedRows = static_cast<int>(s.Int(6));
    r.body = s.Text(7);
    return r;
}

} // namespace

bool ReportStore::Find(const std::string& code, StoredReport& report) {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_,
                (std::string("SELECT ") + kReportColumns + " FROM reports WHERE code = ?").c_str());
    s.Bind(1, code);
    if (s.Step() != SQLITE_ROW)
        return false;
    report = ReadReport(s);
    return true;
}

std::vector<StoredReport> ReportStore::List(const ReportFilter& filter, int limit, int offset,
                                            bool& more) {
    std::string sql = std::string("SELECT ") + kReportColumns +
                      " FROM reports WHERE received >= ? AND received < ?";
    if (!filter.region.empty())
        sql += " AND region = ?3";
    if (filter.failedRow >= 0)
        sql += " AND (failed & ?4) != 0";
    sql += " ORDER BY received DESC, id DESC LIMIT ?5 OFFSET ?6";
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, sql.c_str());
    s.Bind(1, filter.from).Bind(2, filter.to);
    if (!filter.region.empty())
        s.Bind(3, filter.region);
    if (filter.failedRow >= 0)
        s.Bind(4, std::int64_t{1} << filter.failedRow);
    s.Bind(5, std::int64_t{limit} + 1).Bind(6, std::int64_t{offset});
    std::vector<StoredReport> page;
    while (s.Step() == SQLITE_ROW)
        page.push_back(ReadReport(s));
    more = static_cast<int>(page.size()) > limit;
    if (more)
        page.pop_back();
    return page;
}

std::map<std::string, RegionOverview> ReportStore::Overview(std::int64_t since) {
    // Whole hours from the hourly counters; the part of an hour before them from the reports.
    const std::int64_t firstHour = (since + 3599) / 3600;
    OverviewCounts counts;
    std::lock_guard<std::mutex> lock(readerMutex_);
    AddHourlyCounts(firstHour, counts);
    AddCountsOfReports(since, firstHour * 3600, counts);
    return ToOverview(counts);
}

void ReportStore::AddHourlyCounts(std::int64_t fromHour, OverviewCounts& counts) {
    Statement s(reader_, "SELECT region, kind, a, b, c, SUM(n) FROM hourly_counts WHERE hour >= ? "
                         "GROUP BY region, kind, a, b, c");
    s.Bind(1, fromHour);
    while (s.Step() == SQLITE_ROW)
        counts[{s.Text(0), static_cast<CountKind>(s.Int(1)), s.Text(2), s.Text(3), s.Text(4)}] +=
            s.Int(5);
}

void ReportStore::AddCountsOfReports(std::int64_t from, std::int64_t until,
                                     OverviewCounts& counts) {
    Statement reports(reader_, "SELECT region, failed, windows, bits FROM reports "
                               "WHERE received >= ? AND received < ?");
    reports.Bind(1, from).Bind(2, until);
    while (reports.Step() == SQLITE_ROW) {
        ReportDigest d;
        d.region = reports.Text(0);
        d.failedRows = static_cast<int>(reports.Int(1));
        d.windows = reports.Text(2);
        d.bits = static_cast<int>(reports.Int(3));
        for (const CountKey& key : CountKeys(d))
            ++counts[key];
    }
    Statement versions(reader_, "SELECT region, component, expected, found FROM versions "
                                "WHERE received >= ? AND received < ?");
    versions.Bind(1, from).Bind(2, until);
    while (versions.Step() == SQLITE_ROW)
        ++counts[{versions.Text(0), CountKind::Version, versions.Text(1), versions.Text(2),
                  versions.Text(3)}];
}

std::vector<std::string> ReportStore::Regions() {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT DISTINCT region FROM reports ORDER BY region");
    std::vector<std::string> regions;
    while (s.Step() == SQLITE_ROW)
        regions.push_back(s.Text(0));
    return regions;
}

std::int64_t ReportStore::Count() {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT COUNT(*) FROM reports");
    return s.Step() == SQLITE_ROW ? s.Int(0) : -1;
}
