#include "upload_writer.h"

#include "net_address.h"
#include "storage_share.h"

#include <chrono>
#include <ctime>
#include <map>

namespace {

constexpr auto kRetentionInterval = std::chrono::hours(1);
constexpr auto kQuotaLogInterval = std::chrono::minutes(1);
// The overview looks back a week; its minute and hour counters are kept a day longer.
constexpr std::int64_t kFineCountsKept = 8 * 86400;

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

bool UploadWriter::QuotaLogDue() {
    const auto now = std::chrono::steady_clock::now();
    if (!log_ || now < nextQuotaLog_)
        return false;
    nextQuotaLog_ = now + kQuotaLogInterval;
    return true;
}

// Past the quota new reports are refused, and so are those of an address group past its
// share (GroupShare); pages, access lines and retention go on.
std::vector<bool> UploadWriter::Admit(const std::deque<Job*>& batch) {
    std::vector<bool> admitted(batch.size(), true);
    if (maxBytes_ <= 0 || batch.empty())
        return admitted;
    std::string error;
    std::int64_t used = store_.UsedBytes(error);
    if (used < 0 || used >= maxBytes_) {
        if (QuotaLogDue()) {
            if (used < 0)
                std::fprintf(log_, "quota: the database's size cannot be read: %s\n",
                             error.c_str());
            else
                std::fprintf(log_,
                             "quota: the database uses %lld MiB of its %lld MiB; uploads are "
                             "refused (507)\n",
                             static_cast<long long>(used >> 20),
                             static_cast<long long>(maxBytes_ >> 20));
            std::fflush(log_);
        }
        return std::vector<bool>(batch.size(), false);
    }
    std::map<std::string, std::int64_t> held; // per group, with this batch's admitted reports
    for (size_t i = 0; i < batch.size(); ++i) {
        const NewReport& r = *batch[i]->report;
        const std::string group = AddressGroup(r.address);
        auto it = held.find(group);
        if (it == held.end()) {
            std::int64_t bytes = 0;
            if (!store_.GroupBytes(group, bytes, error))
                bytes = maxBytes_; // unknown: refused rather than let past its share
            it = held.emplace(group, bytes).first;
        }
        const std::int64_t size = ReportBytes(r.body, r.address);
        const std::int64_t share = GroupShare(maxBytes_, used);
        if (it->second + size > share || used + size > maxBytes_) {
            admitted[i] = false;
            if (QuotaLogDue()) {
                std::fprintf(log_,
                             "quota: address group %s holds %lld KiB, its share is %lld KiB; "
                             "its uploads are refused (507)\n",
                             group.c_str(), static_cast<long long>(it->second >> 10),
                             static_cast<long long>(share >> 10));
                std::fflush(log_);
            }
            continue;
        }
        it->second += size;
        used += size;
    }
    return admitted;
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
            std::string error;
            const std::int64_t fineCutoff = std::time(nullptr) - kFineCountsKept;
            if (!store_.DeleteFineCountsBefore(fineCutoff, error) && log_)
                std::fprintf(log_, "retention of the overview's counters: %s\n", error.c_str());
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
        const std::vector<bool> admitted = Admit(batch);
        for (size_t i = 0; i < batch.size(); ++i)
            if (admitted[i])
                reports.push_back(batch[i]->report);
        std::string error;
        const bool ok = store_.Insert(reports, accesses, error);
        if (!ok && log_)
            std::fprintf(log_, "storing %zu report(s) and %zu access line(s) failed: %s\n",
                         reports.size(), accesses.size(), error.c_str());
        store_.TrimWal();
        lock.lock();
        for (size_t i = 0; i < batch.size(); ++i) {
            batch[i]->outcome = !admitted[i] ? Outcome::OverQuota
                                : ok         ? Outcome::Stored
                                             : Outcome::Failed;
            batch[i]->done = true;
        }
        for (AccessJob* job : accessJobs) {
            job->committed = ok;
            job->done = true;
        }
        accessesDone_ = accessesUpTo;
        finished_.notify_all();
    }
}
