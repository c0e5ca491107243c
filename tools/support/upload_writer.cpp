#include "upload_writer.h"

#include <chrono>
#include <ctime>

namespace {

constexpr auto kRetentionInterval = std::chrono::hours(1);
constexpr auto kQuotaLogInterval = std::chrono::minutes(1);

} // namespace

UploadWriter::UploadWriter(ReportStore& store, int keepDays, std::FILE* log, std::int64_t maxBytes)
    : store_(store), keepDays_(keepDays), log_(log), maxBytes_(maxBytes) {
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

UploadWriter::Outcome UploadWriter::Store(NewReport& report) {
    Job job{&report};
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_)
        return Outcome::Failed;
    queue_.push_back(&job);
    wake_.notify_one();
    finished_.wait(lock, [&job] { return job.done; });
    return job.outcome;
}

void UploadWriter::RecordAccess(AccessLine line) {
    std::lock_guard<std::mutex> lock(mutex_);
    accesses_.push_back(std::move(line));
    ++accessesQueued_;
    wake_.notify_one();
}

bool UploadWriter::RecordAccessCommitted(std::vector<AccessLine> lines) {
    AccessJob job;
    job.lines = std::move(lines);
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_)
        return false;
    accessJobs_.push_back(&job);
    wake_.notify_one();
    finished_.wait(lock, [&] { return job.done; });
    return job.committed;
}

void UploadWriter::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t target = accessesQueued_;
    finished_.wait(lock, [&] { return accessesDone_ >= target || stopping_; });
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

// Past the quota new reports are refused; pages, access lines and retention go on.
bool UploadWriter::OverQuota() {
    if (maxBytes_ <= 0)
        return false;
    std::string error;
    const std::int64_t used = store_.UsedBytes(error);
    const bool over = used < 0 || used >= maxBytes_;
    const auto now = std::chrono::steady_clock::now();
    if (over && log_ && now >= nextQuotaLog_) {
        if (used < 0)
            std::fprintf(log_, "quota: the database's size cannot be read: %s\n", error.c_str());
        else
            std::fprintf(log_,
                         "quota: the database uses %lld MiB of its %lld MiB; uploads are "
                         "refused (507)\n",
                         static_cast<long long>(used >> 20),
                         static_cast<long long>(maxBytes_ >> 20));
        std::fflush(log_);
        nextQuotaLog_ = now + kQuotaLogInterval;
    }
    return over;
}

void UploadWriter::Run() {
    auto nextRetention = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_until(lock, nextRetention, [this] {
            return stopping_ || !queue_.empty() || !accesses_.empty() || !accessJobs_.empty();
        });
        if (queue_.empty() && accesses_.empty() && accessJobs_.empty() && stopping_)
            return;
        if (std::chrono::steady_clock::now() >= nextRetention) {
            lock.unlock();
            DeleteExpired();
            lock.lock();
            nextRetention = std::chrono::steady_clock::now() + kRetentionInterval;
        }
        if (queue_.empty() && accesses_.empty() && accessJobs_.empty())
            continue;
        std::deque<Job*> batch;
        batch.swap(queue_);
        std::vector<AccessLine> accesses;
        accesses.swap(accesses_);
        std::deque<AccessJob*> accessJobs;
        accessJobs.swap(accessJobs_);
        for (const AccessJob* job : accessJobs)
            accesses.insert(accesses.end(), job->lines.begin(), job->lines.end());
        const std::uint64_t accessesUpTo = accessesQueued_;
        lock.unlock();
        std::vector<NewReport*> reports;
        const bool refused = !batch.empty() && OverQuota();
        if (!refused)
            for (Job* job : batch)
                reports.push_back(job->report);
        std::string error;
        const bool ok = store_.Insert(reports, accesses, error);
        if (!ok && log_)
            std::fprintf(log_, "storing %zu report(s) and %zu access line(s) failed: %s\n",
                         reports.size(), accesses.size(), error.c_str());
        lock.lock();
        for (Job* job : batch) {
            job->outcome = refused ? Outcome::OverQuota : ok ? Outcome::Stored : Outcome::Failed;
            job->done = true;
        }
        for (AccessJob* job : accessJobs) {
            job->committed = ok;
            job->done = true;
        }
        accessesDone_ = accessesUpTo;
        finished_.notify_all();
    }
}
