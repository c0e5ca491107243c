#include "report_store.h"

#include "net_address.h"
#include "overview_tally.h"
#include "report_code.h"
#include "storage_share.h"
#include "store_migration.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kSchemaVersion = 3;

// Past this the -wal file is checkpointed and cut back after a batch (TrimWal).
constexpr std::int64_t kWalTrimBytes = 8 << 20;
// As SqliteDb::Open sets it.
constexpr int kBusyTimeoutMs = 10000;

// `failed` has bit i set when row i failed; `windows` and `bits` are null without a system
// description. versions and hourly_counts are replaced by overview_counts in version 3.
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

// Version 2: staff accounts (the token's SHA-256 only) and who opened which report when.
const char kSchema2[] = R"(
CREATE TABLE IF NOT EXISTS staff(
    name TEXT PRIMARY KEY,
    token_hash TEXT NOT NULL UNIQUE,
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS access_log(
    id INTEGER PRIMARY KEY,
    code TEXT NOT NULL,
    staff TEXT NOT NULL,
    at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS access_by_code ON access_log(code, at);
CREATE INDEX IF NOT EXISTS access_by_time ON access_log(at);
PRAGMA user_version = 2;
)";

// The database and the -wal and -shm files SQLite makes beside it (with the database's
// permissions) hold bidders' addresses: readable by the owner only.
bool CreatePrivate(const std::string& file, std::string& error) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = file + ": " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string path = file + suffix;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
            ::chmod(path.c_str(), st.st_mode & 0700);
    }
    return true;
}

} // namespace

ReportStore::~ReportStore() {
    if (!runningMarker_.empty())
        ::unlink(runningMarker_.c_str());
}

bool ReportStore::Open(const std::string& file, std::string& error, Use use) {
    if (!CreatePrivate(file, error) || !writer_.Open(file, error))
        return false;
    if (use == Use::Server) {
        const std::string marker = file + ".running";
        struct stat st {};
        const bool uncleanEnd = ::stat(marker.c_str(), &st) == 0;
        if (uncleanEnd && !CheckIntegrity(file, error))
            return false;
        const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            runningMarker_ = marker;
        }
    }
    // FULL: every commit is on the disk (the WAL synced) before a code is given out, so not
    // even a power cut loses an acknowledged report. Commits are grouped (UploadWriter), so
    // the sync is paid once per group, not per report.
    // The -wal file counts toward the quota: it is cut back to 4 MiB whenever it is reset.
    if (!writer_.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                      "PRAGMA journal_size_limit=4194304;",
                      error) ||
        !CreateSchema(error)) {
        error = file + ": " + error;
        return false;
    }
    file_ = file;
    return reader_.Open(file, error) && overviewReader_.Open(file, error);
}

bool ReportStore::CheckIntegrity(const std::string& file, std::string& error) {
    Statement check(writer_, "PRAGMA quick_check(5)");
    std::string problems;
    int rc = check.Step();
    while (rc == SQLITE_ROW) {
        const std::string line = check.Text(0);
        if (line != "ok")
            problems += (problems.empty() ? "" : "; ") + line;
        rc = check.Step();
    }
    if (rc != SQLITE_DONE)
        problems = writer_.Error();
    if (problems.empty())
        return true;
    error = file + ": the database is damaged (" + problems +
            "); not started. Restore it from a backup, or move it away to start with an "
            "empty one";
    return false;
}

bool ReportStore::CreateSchema(std::string& error) {
    std::int64_t found = -1;
    {
        // Done with before the migration: no statement may be open while it drops tables.
        Statement version(writer_, "PRAGMA user_version");
        if (version.Step() != SQLITE_ROW) {
            error = writer_.Error();
            return false;
        }
        found = version.Int(0);
    }
    if (found == kSchemaVersion)
        return true;
    if (found < 0 || found > kSchemaVersion) {
        error = "the database has schema version " + std::to_string(found) +
                "; this program knows version " + std::to_string(kSchemaVersion);
        return false;
    }
    std::string sql = "BEGIN IMMEDIATE;";
    if (found == 0)
        sql += kSchema;
    sql += kSchema2;
    if (writer_.Exec(sql.c_str(), error) &&
        MigrateToVersion3(writer_, static_cast<std::int64_t>(std::time(nullptr)), error) &&
        writer_.Exec("COMMIT", error))
        return true;
    std::string ignored;
    writer_.Exec("ROLLBACK", ignored);
    return false;
}

bool ReportStore::ReadFailed(std::string& error) {
    error = reader_.Error();
    return false;
}

std::int64_t ReportStore::UsedBytes(std::string& error) {
    Statement pages(writer_, "SELECT page_count - freelist_count, page_size "
                             "FROM pragma_page_count, pragma_freelist_count, pragma_page_size");
    if (pages.Step() != SQLITE_ROW) {
        error = writer_.Error();
        return -1;
    }
    struct stat wal {};
    const std::int64_t walBytes = ::stat((file_ + "-wal").c_str(), &wal) == 0 ? wal.st_size : 0;
    return pages.Int(0) * pages.Int(1) + walBytes;
}

bool ReportStore::GroupBytes(const std::string& group, std::int64_t& bytes, std::string& error) {
    Statement s(writer_, "SELECT bytes FROM group_bytes WHERE grp = ?");
    s.Bind(1, group);
    const int rc = s.Step();
    bytes = rc == SQLITE_ROW ? s.Int(0) : 0;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return true;
    error = writer_.Error();
    return false;
}

// Without waiting for readers: where one still reads older pages the checkpoint goes as far
// as it can, and the next one (after another batch) goes on from there.
void ReportStore::TrimWal() {
    struct stat wal {};
    if (::stat((file_ + "-wal").c_str(), &wal) != 0 || wal.st_size < kWalTrimBytes)
        return;
    sqlite3_busy_timeout(writer_.handle(), 0);
    sqlite3_wal_checkpoint_v2(writer_.handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                              nullptr);
    sqlite3_busy_timeout(writer_.handle(), kBusyTimeoutMs);
}

bool ReportStore::Insert(std::vector<NewReport*>& batch, const std::vector<AccessLine>& accesses,
                         std::string& error) {
    if (!writer_.Exec("BEGIN IMMEDIATE", error))
        return false;
    Statement& report =
        writer_.Cached("INSERT INTO reports(code, received, address, region, tool_version, "
                       "exit_code, code_network, code_dotnet, code_ie, code_tool, code_ca, "
                       "failed, windows, bits, body) "
                       "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    Statement& charge =
        writer_.Cached("INSERT INTO group_bytes VALUES(?,?) "
                       "ON CONFLICT(grp) DO UPDATE SET bytes = bytes + excluded.bytes");
    Statement& access = writer_.Cached("INSERT INTO access_log(code, staff, at) VALUES(?,?,?)");
    bool ok = report.ok() && charge.ok() && access.ok();
    OverviewTally tally;
    std::map<std::string, std::int64_t> charges;
    for (const AccessLine& line : accesses) {
        access.Reset();
        access.Bind(1, line.code).Bind(2, line.staff).Bind(3, line.at);
        if (!ok || access.Step() != SQLITE_DONE) {
            ok = false;
            break;
        }
    }
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
        tally.Add(d, r->received);
        charges[AddressGroup(r->address)] += ReportBytes(r->body, r->address);
    }
    for (const auto& [group, bytes] : charges) {
        charge.Reset();
        charge.Bind(1, group).Bind(2, bytes);
        if (!ok || charge.Step() != SQLITE_DONE) {
            ok = false;
            break;
        }
    }
    ok = ok && (batch.empty() || tally.Write(writer_, error));
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

// What the reports from before `cutoff` hold, per address group: uncharged when they go.
bool ReportStore::UnchargeBefore(std::int64_t cutoff, std::string& error) {
    Statement held(writer_, "SELECT address, SUM(length(CAST(body AS BLOB))), COUNT(*) "
                            "FROM reports WHERE received < ? GROUP BY address");
    held.Bind(1, cutoff);
    std::map<std::string, std::int64_t> groups;
    int rc;
    while ((rc = held.Step()) == SQLITE_ROW) {
        const std::string address = held.Text(0);
        groups[AddressGroup(address)] += held.Int(1) + held.Int(2) * ReportBytes("", address);
    }
    Statement uncharge(writer_, "UPDATE group_bytes SET bytes = MAX(bytes - ?, 0) WHERE grp = ?");
    bool ok = rc == SQLITE_DONE && uncharge.ok();
    for (const auto& [group, bytes] : groups) {
        uncharge.Reset();
        uncharge.Bind(1, bytes).Bind(2, group);
        if (!ok || uncharge.Step() != SQLITE_DONE) {
            ok = false;
            break;
        }
    }
    if (ok && writer_.Exec("DELETE FROM group_bytes WHERE bytes = 0", error))
        return true;
    if (error.empty())
        error = writer_.Error();
    return false;
}

bool ReportStore::DeleteCountsBefore(std::int64_t cutoff, bool fineOnly, std::string& error) {
    Statement counts(writer_, "DELETE FROM overview_counts WHERE span = ? AND start < ?");
    for (std::int64_t span : kCountSpans) {
        if (fineOnly && span == kCountSpans[2])
            continue;
        counts.Reset();
        counts.Bind(1, span).Bind(2, cutoff / span);
        if (counts.Step() != SQLITE_DONE) {
            error = writer_.Error();
            return false;
        }
    }
    return true;
}

std::int64_t ReportStore::DeleteBefore(std::int64_t cutoff, std::string& error) {
    if (!writer_.Exec("BEGIN IMMEDIATE", error))
        return -1;
    Statement reports(writer_, "DELETE FROM reports WHERE received < ?");
    Statement accesses(writer_, "DELETE FROM access_log WHERE at < ?");
    reports.Bind(1, cutoff);
    accesses.Bind(1, cutoff);
    std::int64_t deleted = -1;
    if (UnchargeBefore(cutoff, error) && reports.Step() == SQLITE_DONE) {
        deleted = sqlite3_changes(writer_.handle());
        if (!DeleteCountsBefore(cutoff, false, error) || accesses.Step() != SQLITE_DONE)
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

bool ReportStore::DeleteFineCountsBefore(std::int64_t cutoff, std::string& error) {
    return DeleteCountsBefore(cutoff, true, error);
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

bool ReportStore::Find(const std::string& code, StoredReport& report, bool& found,
                       std::string& error) {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_,
                (std::string("SELECT ") + kReportColumns + " FROM reports WHERE code = ?").c_str());
    s.Bind(1, code);
    const int rc = s.Step();
    found = rc == SQLITE_ROW;
    if (found)
        report = ReadReport(s);
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? true : ReadFailed(error);
}

bool ReportStore::List(const ReportFilter& filter, int limit, int offset,
                       std::vector<StoredReport>& page, bool& more, std::string& error) {
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
    page.clear();
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW)
        page.push_back(ReadReport(s));
    if (rc != SQLITE_DONE)
        return ReadFailed(error);
    more = static_cast<int>(page.size()) > limit;
    if (more)
        page.pop_back();
    return true;
}

bool ReportStore::Overview(std::int64_t since, std::map<std::string, RegionOverview>& overview,
                           std::string& error) {
    OverviewCounts counts;
    {
        // A connection of its own: lookups and lists never wait for the overview.
        std::lock_guard<std::mutex> lock(overviewMutex_);
        Statement s(overviewReader_, "SELECT region, kind, a, b, n FROM overview_counts "
                                     "WHERE span = ? AND start >= ? AND start < ?");
        for (const CountRange& range : RangesSince(since)) {
            s.Reset();
            s.Bind(1, range.span).Bind(2, range.from).Bind(3, range.to);
            int rc;
            while ((rc = s.Step()) == SQLITE_ROW)
                counts[{s.Text(0), static_cast<CountKind>(s.Int(1)), s.Text(2), s.Text(3)}] +=
                    s.Int(4);
            if (rc != SQLITE_DONE) {
                error = overviewReader_.Error();
                return false;
            }
        }
    }
    overview = ToOverview(counts);
    return true;
}

std::int64_t ReportStore::Count() {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT COUNT(*) FROM reports");
    return s.Step() == SQLITE_ROW ? s.Int(0) : -1;
}

bool ReportStore::AccessLines(const std::string& code, int limit, std::vector<AccessLine>& lines,
                              std::string& error) {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT staff, at FROM access_log WHERE code = ? "
                         "ORDER BY at DESC, id DESC LIMIT ?");
    s.Bind(1, code).Bind(2, std::int64_t{limit});
    lines.clear();
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW)
        lines.push_back({code, s.Text(0), s.Int(1)});
    return rc == SQLITE_DONE ? true : ReadFailed(error);
}

// The staff commands run as their own process beside a running server: they write through
// the writer connection, which waits for the server's transaction when there is one.
bool ReportStore::AddStaff(const std::string& name, const std::string& tokenHash,
                           std::string& error) {
    Statement s(writer_, "INSERT INTO staff(name, token_hash, created) VALUES(?,?,?)");
    s.Bind(1, name).Bind(2, tokenHash).Bind(3, static_cast<std::int64_t>(std::time(nullptr)));
    if (s.Step() == SQLITE_DONE)
        return true;
    error = writer_.Error();
    return false;
}

bool ReportStore::RemoveStaff(const std::string& name, bool& removed, std::string& error) {
    Statement s(writer_, "DELETE FROM staff WHERE name = ?");
    s.Bind(1, name);
    if (s.Step() != SQLITE_DONE) {
        error = writer_.Error();
        return false;
    }
    removed = sqlite3_changes(writer_.handle()) > 0;
    return true;
}

bool ReportStore::ListStaff(std::vector<StaffAccount>& accounts, std::string& error) {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT name, created FROM staff ORDER BY name");
    accounts.clear();
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW)
        accounts.push_back({s.Text(0), s.Int(1)});
    return rc == SQLITE_DONE ? true : ReadFailed(error);
}

bool ReportStore::StaffByTokenHash(const std::string& tokenHash, std::string& name,
                                   std::string& error) {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT name FROM staff WHERE token_hash = ?");
    s.Bind(1, tokenHash);
    const int rc = s.Step();
    name = rc == SQLITE_ROW ? s.Text(0) : std::string();
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? true : ReadFailed(error);
}

bool ReportStore::StaffExists(const std::string& name, bool& exists, std::string& error) {
    std::lock_guard<std::mutex> lock(readerMutex_);
    Statement s(reader_, "SELECT 1 FROM staff WHERE name = ?");
    s.Bind(1, name);
    const int rc = s.Step();
    exists = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? true : ReadFailed(error);
}
