#include "upload_writer.h"

#include <chrono>
#include <ctime>

namespace {

constexpr auto kRetentionInterval = std::chrono::hours(1);

} // namespace

UploadWriter::UploadWriter(ReportStore& store, int keepDays, std::FILE* log)
    : store_(store), keepDays_(keepDays), log_(log) {
    thread_ = std::thread([this] { Run(); });
}

UploadWriter::~UploadWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool UploadWriter::Store(NewReport& report) {
    Job job{&report};
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_)
        return false;
    queue_.push_back(&job);
    wake_.notify_one();
    finished_.wait(lock, [&job] { return job.done; });
    return job.ok;
}

std::int64_t UploadWriter::DeleteExpired() {
    if (keepDays_ <= 0)
        return 0;
    const std::int64_t cutoff = std::time(nullptr) - std::int64_t{keepDays_} * 86400;
    std::string error;
    std::int64_t deleted = store_.DeleteBefore(cutoff, error);
    if (log_ && deleted < 0)
        std::fprintf(log_, "retention: %s\n", error.c_str());
    else if (log_ && deleted > 0)
        std::fprintf(log_, "retention: %lld report(s) older than %d days deleted\n",
                     static_cast<long long>(deleted), keepDays_);
    return deleted;
}

void UploadWriter::Run() {
    auto nextRetention = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_until(lock, nextRetention, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty() && stopping_)
            return;
        if (std::chrono::steady_clock::now() >= nextRetention) {
            lock.unlock();
            DeleteExpired();
            lock.lock();
            nextRetention = std::chrono::steady_clock::now() + kRetentionInterval;
        }
        if (queue_.empty())
            continue;
        std::deque<Job*> batch;
        batch.swap(queue_);
        lock.unlock();
        std::vector<NewReport*> reports;
        for (Job* job : batch)
            reports.push_back(job->report);
        std::string error;
        const bool ok = store_.Insert(reports, error);
        if (!ok && log_)
            std::fprintf(log_, "storing %zu report(s) failed: %s\n", reports.size(), error.c_str());
        lock.lock();
        for (Job* job : batch) {
            job->ok = ok;
            job->done = true;
        }
        finished_.notify_all();
    }
}
