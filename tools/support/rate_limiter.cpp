#include "rate_limiter.h"

namespace {

constexpr auto kWindow = std::chrono::minutes(1);

} // namespace

bool RateLimiter::Allow(const std::string& address, int& retryAfter, Clock::time_point now) {
    return Check(address, retryAfter, now, true);
}

bool RateLimiter::WouldAllow(const std::string& address, int& retryAfter, Clock::time_point now) {
    return Check(address, retryAfter, now, false);
}

bool RateLimiter::Check(const std::string& address, int& retryAfter, Clock::time_point now,
                        bool count) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Addresses seen once are forgotten after a minute, so the map stays as small as the set
    // of recent clients.
    if (now >= nextSweep_) {
        for (auto it = events_.begin(); it != events_.end();) {
            while (!it->second.empty() && it->second.front() <= now - kWindow)
                it->second.pop_front();
            it = it->second.empty() ? events_.erase(it) : std::next(it);
        }
        nextSweep_ = now + kWindow;
    }
    std::deque<Clock::time_point>& times = events_[address];
    while (!times.empty() && times.front() <= now - kWindow)
        times.pop_front();
    if (static_cast<int>(times.size()) >= limit_) {
        auto wait = std::chrono::duration_cast<std::chrono::seconds>(times.front() + kWindow - now);
        retryAfter = static_cast<int>(wait.count()) + 1;
        return false;
    }
    if (count)
        times.push_back(now);
    return true;
}
