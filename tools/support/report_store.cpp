#include "report_store.h"

#include "report_code.h"

#include <algorithm>

namespace {

constexpr int kSchemaVersion = 1;

// `failed` has bit i set when row i failed; `windows` and `bits` are null without a system
// description. The covering indexes let the overview and the list read no report bodies.
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
    bool ok = report.ok() && version.ok();
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
    reports.Bind(1, cutoff);
    versions.Bind(1, cutoff);
    std::int64_t deleted = -1;
    if (reports.Step() == SQLITE_DONE) {
        deleted = sqlite3_changes(writer_.handle());
        if (versions.Step() != SQLITE_DONE)
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
    std::map<std::string, RegionOverview> regions;
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement counts(reader_,
                     "SELECT region, COUNT(*), SUM(failed & 1 != 0), SUM(failed & 2 != 0), "
                     "SUM(failed & 4 != 0), SUM(failed & 8 != 0), SUM(failed & 16 != 0), "
                     "SUM(bits IS NOT NULL), SUM(bits = 64) "
                     "FROM reports WHERE received >= ? GROUP BY region");
    counts.Bind(1, since);
    while (counts.Step() == SQLITE_ROW) {
        RegionOverview& r = regions[counts.Text(0)];
        r.reports = static_cast<int>(counts.Int(1));
        for (int i = 0; i < kRowCount; ++i)
            r.failing[i] = static_cast<int>(counts.Int(2 + i));
        r.withSystem = static_cast<int>(counts.Int(7));
        r.bits64 = static_cast<int>(counts.Int(8));
    }
    Statement windows(reader_, "SELECT region, windows, COUNT(*) FROM reports WHERE received >= ? "
                               "AND windows IS NOT NULL GROUP BY region, windows");
    windows.Bind(1, since);
    while (windows.Step() == SQLITE_ROW)
        regions[windows.Text(0)].windows[windows.Text(1)] = static_cast<int>(windows.Int(2));
    Statement versions(reader_, "SELECT region, component, expected, found, COUNT(*) FROM versions "
                                "WHERE received >= ? GROUP BY region, component, expected, found");
    versions.Bind(1, since);
    // region -> component -> (expected -> count, found -> count)
    std::map<
        std::string,
        std::map<std::string, std::pair<std::map<std::string, int>, std::map<std::string, int>>>>
        seen;
    while (versions.Step() == SQLITE_ROW) {
        auto& counts = seen[versions.Text(0)][versions.Text(1)];
        const int n = static_cast<int>(versions.Int(4));
        counts.first[versions.Text(2)] += n;
        counts.second[versions.Text(3)] += n;
    }
    for (auto& [region, components] : seen) {
        for (auto& [component, counts] : components) {
            ComponentVersions c;
            c.component = component;
            int best = -1;
            for (const auto& [expected, n] : counts.first)
                if (n > best) {
                    best = n;
                    c.expected = expected;
                }
            c.found.assign(counts.second.begin(), counts.second.end());
            std::stable_sort(c.found.begin(), c.found.end(),
                             [](const auto& a, const auto& b) { return a.second > b.second; });
            for (const auto& f : c.found)
                c.total += f.second;
            regions[region].versions.push_back(std::move(c));
        }
    }
    return regions;
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
