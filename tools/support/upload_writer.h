#pragma once

#include "report_store.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// The one thread that writes to the store. Uploads wait here until the transaction that
// holds them has committed; every upload waiting at that moment joins the same transaction,
// so one disk sync serves many. Access lines ride along with the next transaction. The same
// thread deletes old reports, at start and hourly, and keeps the database within its quota,
// shared by address groups (storage_share.h).
class UploadWriter {
  public:
    enum class Outcome { Stored, Failed, OverQuota };

    // keepDays 0: nothing is ever deleted. maxBytes 0: no quota.
    UploadWriter(ReportStore& store, int keepDays, std::FILE* log, std::int64_t maxBytes = 0);
    ~UploadWriter();
    UploadWriter(const UploadWriter&) = delete;
    UploadWriter& operator=(const UploadWriter&) = delete;

    // Stores the report; Stored (and report.code set) once it has committed.
    Outcome Store(NewReport& report);
    // Queues an access line for the next transaction; returns at once.
    void RecordAccess(AccessLine line);
    // Writes the access lines in the next transaction and waits for it: true once they are
    // committed, false when that transaction failed (or the writer is stopping).
    bool RecordAccessCommitted(std::vector<AccessLine> lines);
    // Waits until every access line queued so far has been written (or has failed).
    void Flush();
    // Deletes what is older than the retention period now; the number deleted, or -1.
    std::int64_t DeleteExpired();

  private:
    struct Job {
        NewReport* report;
        bool done = false;
        Outcome outcome = Outcome::Failed;
    };
    struct AccessJob {
        std::vector<AccessLine> lines;
        bool done = false;
        bool committed = false;
    };
    void Run();
    // Per report of the batch: false when it is refused for the quota.
    std::vector<bool> Admit(const std::deque<Job*>& batch);
    // True at most once a minute: a quota line is logged then.
    bool QuotaLogDue();

    ReportStore& store_;
    const int keepDays_;
    std::FILE* log_;
    const std::int64_t maxBytes_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<Job*> queue_;
    std::vector<AccessLine> accesses_;
    std::deque<AccessJob*> accessJobs_;
    std::uint64_t accessesQueued_ = 0, accessesDone_ = 0;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point nextQuotaLog_{};
    std::thread thread_;
};
