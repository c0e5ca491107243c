#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace httplib {
class Client;
}

// Stops the client's transfer from a thread of its own once the deadline passes: the
// client's own time-outs apply to each read, so a server that trickles bytes would never
// trip them. The request may be in any phase, connecting, sending, headers or body.
class RequestDeadline {
  public:
    RequestDeadline(httplib::Client& client, std::chrono::milliseconds limit);
    ~RequestDeadline();
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;

    bool passed();

  private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    bool passed_ = false;
    std::thread watcher_; // last: starts once the members above exist
};
