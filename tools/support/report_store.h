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

struct ReportFilter {
    std::string region;          // empty: every region
    int failedRow = -1;          // a CheckRowIndex that must have failed; -1: any
    std::int64_t from = 0;       // received at or after (Unix seconds)
    std::int64_t to = INT64_MAX; // received before
};

// The reports in one SQLite file (WAL). Storing goes through one connection, reading through
// another; each is used by one thread at a time.
class ReportStore {
  public:
    bool Open(const std::string& file, std::string& error);

    // Stores the reports in one transaction, giving each a new code. True when it committed.
    bool Insert(std::vector<NewReport*>& batch, std::string& error);
    // Deletes the reports received before `cutoff`; the number deleted, or -1.
    std::int64_t DeleteBefore(std::int64_t cutoff, std::string& error);

    bool Find(const std::string& code, StoredReport& report);
    // One page of reports, newest first; `more` tells whether another page follows.
    std::vector<StoredReport> List(const ReportFilter& filter, int limit, int offset, bool& more);
    // Per region, the reports received since `since` (Unix seconds) until now.
    std::map<std::string, RegionOverview> Overview(std::int64_t since);
    std::vector<std::string> Regions();
    std::int64_t Count();

  private:
    void AddHourlyCounts(std::int64_t fromHour, OverviewCounts& counts);
    void AddCountsOfReports(std::int64_t from, std::int64_t until, OverviewCounts& counts);
    bool CreateSchema(std::string& error);

    SqliteDb writer_;
    SqliteDb reader_;
    std::mutex readerMutex_;
};
