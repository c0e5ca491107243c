#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// Log lines written by a thread of their own, so that a log nobody reads (a full pipe, a
// terminal on hold) costs lines, never the caller's time: Write only queues. Past `maxBytes`
// queued, lines are dropped, and a line in their place says how many.
class LogWriter {
  public:
    explicit LogWriter(std::FILE* out, std::size_t maxBytes = 1024 * 1024);
    // Writes what is queued, for at most a second while the log takes nothing, then ends.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues `line` and a newline.
    void Write(std::string line);

  private:
    void Run();
    // Writes `text` while the log takes it; false when it took nothing for a second after the
    // writer was asked to end.
    bool Put(const std::string& text);

    std::FILE* out_;
    const std::size_t maxBytes_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> lines_;
    std::size_t queued_ = 0;
    std::size_t dropped_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};
