#pragma once

#include "report_store.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

// The one thread that writes to the store. Uploads wait here until the transaction that
// holds them has committed; every upload waiting at that moment joins the same transaction,
// so one disk sync serves many. The same thread deletes old reports, at start and hourly.
class UploadWriter {
  public:
    // keepDays 0: nothing is ever deleted.
    UploadWriter(ReportStore& store, int keepDays, std::FILE* log);
    ~UploadWriter();
    UploadWriter(const UploadWriter&) = delete;
    UploadWriter& operator=(const UploadWriter&) = delete;

    // Stores the report; true (and report.code set) once it has committed.
    bool Store(NewReport& report);
    // Deletes what is older than the retention period now; the number deleted, or -1.
    std::int64_t DeleteExpired();

  private:
    struct Job {
        NewReport* report;
        bool done = false;
        bool ok = false;
    };
    void Run();

    ReportStore& store_;
    const int keepDays_;
    std::FILE* log_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::thread thread_;
};
