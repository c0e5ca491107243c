#include "log_writer.h"

#include <chrono>
#include <poll.h>

namespace {

constexpr int kPollMs = 100;
constexpr int kPatienceAtEndMs = 1000;
// A pipe that polls writable takes this much without blocking.
constexpr std::size_t kPipePiece = 4096;

std::string DroppedNote(std::size_t dropped) {
    return "(" + std::to_string(dropped) + " log lines dropped: the log took nothing)\n";
}

} // namespace

LogWriter::LogWriter(std::FILE* out, std::size_t maxBytes)
    : out_(out), maxBytes_(maxBytes), thread_([this] { Run(); }) {}

LogWriter::~LogWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void LogWriter::Write(std::string line) {
    line += '\n';
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queued_ + line.size() > maxBytes_) {
            ++dropped_;
            return;
        }
        if (dropped_ > 0) { // where they were dropped
            lines_.push_back(DroppedNote(dropped_));
            queued_ += lines_.back().size();
            dropped_ = 0;
        }
        queued_ += line.size();
        lines_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void LogWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !lines_.empty() || dropped_ > 0; });
        if (lines_.empty() && dropped_ == 0)
            return; // stopping, and all is written
        std::string text;
        while (!lines_.empty() && text.size() < 64 * 1024) {
            text += lines_.front();
            queued_ -= lines_.front().size();
            lines_.pop_front();
        }
        if (lines_.empty() && dropped_ > 0) { // the last lines were dropped
            text += DroppedNote(dropped_);
            dropped_ = 0;
        }
        lock.unlock();
        const bool ok = Put(text);
        lock.lock();
        if (!ok)
            return;
    }
}

bool LogWriter::Put(const std::string& text) {
    const int fd = fileno(out_);
    int waitedAtEnd = 0;
    for (std::size_t at = 0; at < text.size();) {
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready <= 0 || !(p.revents & POLLOUT)) {
            if (p.revents & (POLLERR | POLLNVAL))
                return true; // nowhere to write: the lines are gone, the writer goes on
            bool stopping = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stopping = stopping_;
            }
            if (stopping && (waitedAtEnd += kPollMs) >= kPatienceAtEndMs)
                return false;
            continue;
        }
        const std::size_t n = std::min(kPipePiece, text.size() - at);
        if (std::fwrite(text.data() + at, 1, n, out_) != n) {
            std::clearerr(out_);
            return true;
        }
        std::fflush(out_);
        at += n;
    }
    return true;
}
