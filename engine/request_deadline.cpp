#include "engine/request_deadline.h"

#include <httplib.h>

RequestDeadline::RequestDeadline(httplib::Client& client, std::chrono::milliseconds limit)
    : watcher_([this, &client, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
              passed_ = true;
              lock.unlock();
              client.stop();
          }
      }) {}

RequestDeadline::~RequestDeadline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    done_cv_.notify_one();
    watcher_.join();
}

bool RequestDeadline::passed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return passed_;
}
