#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

// At most `limit` events per address in any minute.
class RateLimiter {
  public:
    using Clock = std::chrono::steady_clock;
    explicit RateLimiter(int limit) : limit_(limit) {}

    // Counts one event; true when it is within the limit. Otherwise `retryAfter` is the number
    // of whole seconds until the next event would be allowed (and the event is not counted).
    bool Allow(const std::string& address, int& retryAfter, Clock::time_point now = Clock::now());
    // Whether another event would be allowed now, without counting one.
    bool WouldAllow(const std::string& address, int& retryAfter,
                    Clock::time_point now = Clock::now());

  private:
    bool Check(const std::string& address, int& retryAfter, Clock::time_point now, bool count);

    const int limit_;
    std::mutex mutex_;
    std::map<std::string, std::deque<Clock::time_point>> events_;
    Clock::time_point nextSweep_{};
};
