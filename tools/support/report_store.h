#pragma once

#include "overview_counts.h"
#include "report_digest.h"
#include "sqlite_db.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// A report as it arrives, before it has a code.
struct NewReport {
    std::int64_t received = 0; // Unix seconds
    std::string address;
    std::string body; // as received
    ReportDigest digest;
    std::string code; // set when stored
};

struct StoredReport {
    std::string code;
    std::int64_t received = 0;
    std::string address;
    std::string region;
    std::string toolVersion;
    int exitCode = 0;
    int failedRows = 0;
    std::string body;
};

// One opening of a report's page: who, which report, when.
struct AccessLine {
    std::string code;
    std::string staff;
    std::int64_t at = 0; // Unix seconds
};

struct StaffAccount {
    std::string name;
    std::int64_t created = 0;
};

struct ReportFilter {
    std::string region;          // empty: every region
    int failedRow = -1;          // a CheckRowIndex that must have failed; -1: any
    std::int64_t from = 0;       // received at or after (Unix seconds)
    std::int64_t to = INT64_MAX; // received before
};

// The reports in one SQLite file (WAL), created readable by its owner only. Storing goes
// through one connection, reading through another; each is used by one thread at a time.
// Every reading method returns false with `error` when SQLite fails (a damaged file, an I/O
// error): a fault is never taken for "no rows".
class ReportStore {
  public:
    // Who opens the file: the server keeps "<file>.running" beside it while it runs, and
    // checks the file (PRAGMA quick_check, which reads all of it) only when that marker
    // says the last run did not end cleanly; the staff commands never check.
    enum class Use { Server, Command };
    ReportStore() = default;
    ~ReportStore();
    ReportStore(const ReportStore&) = delete;
    ReportStore& operator=(const ReportStore&) = delete;

    // Opens or creates the file; refuses a file that PRAGMA quick_check finds damaged.
    bool Open(const std::string& file, std::string& error, Use use = Use::Server);

    // Stores the reports and the access lines in one transaction, giving each report a new
    // code. True when it committed.
    bool Insert(std::vector<NewReport*>& batch, const std::vector<AccessLine>& accesses,
                std::string& error);
    bool Insert(std::vector<NewReport*>& batch, std::string& error) {
        return Insert(batch, {}, error);
    }
    // Deletes the reports (and access lines) from before `cutoff`; the number deleted, or -1.
    std::int64_t DeleteBefore(std::int64_t cutoff, std::string& error);
    // Deletes the overview's minute and hour counters from before `cutoff` (the day counters
    // go with their reports): the overview looks back a week.
    bool DeleteFineCountsBefore(std::int64_t cutoff, std::string& error);
    // Bytes the database's pages in use take (free pages not counted) and its -wal file, or -1.
    std::int64_t UsedBytes(std::string& error);
    // The bytes of reports an address group (AddressGroup) holds: ReportBytes of each.
    bool GroupBytes(const std::string& group, std::int64_t& bytes, std::string& error);
    // Checkpoints and truncates the -wal file once it has grown past 8 MiB.
    void TrimWal();

    // `found` false when no report has that code.
    bool Find(const std::string& code, StoredReport& report, bool& found, std::string& error);
    bool Find(const std::string& code, StoredReport& report) {
        bool found = false;
        std::string error;
        return Find(code, report, found, error) && found;
    }
    // One page of reports, newest first; `more` tells whether another page follows.
    bool List(const ReportFilter& filter, int limit, int offset, std::vector<StoredReport>& page,
              bool& more, std::string& error);
    std::vector<StoredReport> List(const ReportFilter& filter, int limit, int offset, bool& more) {
        std::vector<StoredReport> page;
        std::string error;
        List(filter, limit, offset, page, more, error);
        return page;
    }
    // Per region, the reports received since `since` (Unix seconds; from the start of its
    // minute) until now, from the counters kept as reports are stored (RangesSince).
    bool Overview(std::int64_t since, std::map<std::string, RegionOverview>& overview,
                  std::string& error);
    std::map<std::string, RegionOverview> Overview(std::int64_t since) {
        std::map<std::string, RegionOverview> overview;
        std::string error;
        Overview(since, overview, error);
        return overview;
    }
    std::int64_t Count();

    // The latest openings of a report's page, newest first, at most `limit`.
    bool AccessLines(const std::string& code, int limit, std::vector<AccessLine>& lines,
                     std::string& error);

    // Staff accounts: a name and the SHA-256 (hex) of its token.
    bool AddStaff(const std::string& name, const std::string& tokenHash, std::string& error);
    // `removed` false when there was no such account.
    bool RemoveStaff(const std::string& name, bool& removed, std::string& error);
    bool ListStaff(std::vector<StaffAccount>& accounts, std::string& error);
    // The account whose token has that hash; empty `name` when none has.
    bool StaffByTokenHash(const std::string& tokenHash, std::string& name, std::string& error);
    bool StaffExists(const std::string& name, bool& exists, std::string& error);

  private:
    bool UnchargeBefore(std::int64_t cutoff, std::string& error);
    bool DeleteCountsBefore(std::int64_t cutoff, bool fineOnly, std::string& error);
    bool CreateSchema(std::string& error);
    bool CheckIntegrity(const std::string& file, std::string& error);
    // The reader's error after a step that was neither a row nor done.
    bool ReadFailed(std::string& error);

    SqliteDb writer_;
    SqliteDb reader_;
    std::mutex readerMutex_;
    SqliteDb overviewReader_;
    std::mutex overviewMutex_;
    std::string file_;
    std::string runningMarker_; // removed by a clean end
};
