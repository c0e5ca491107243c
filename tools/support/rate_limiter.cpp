#include "rate_limiter.h"

#include <algorithm>

namespace {

constexpr auto kWindow = std::chrono::minutes(1);

using Clock = RateLimiter::Clock;

// The events of the last minute; when `limit` of them are there, false and the seconds
// until the oldest leaves the window.
bool Within(std::deque<Clock::time_point>& times, int limit, Clock::time_point now,
            int& retryAfter) {
    while (!times.empty() && times.front() <= now - kWindow)
        times.pop_front();
    if (static_cast<int>(times.size()) < limit)
        return true;
    auto wait = std::chrono::duration_cast<std::chrono::seconds>(times.front() + kWindow - now);
    retryAfter = std::max(retryAfter, static_cast<int>(wait.count()) + 1);
    return false;
}

} // namespace

// Keys seen once are forgotten after a minute, so the maps stay as small as the set of
// recent clients.
void RateLimiter::Sweep(Clock::time_point now) {
    if (now < nextSweep_)
        return;
    for (Events* events : {&clients_, &networks_})
        for (auto it = events->begin(); it != events->end();) {
            while (!it->second.empty() && it->second.front() <= now - kWindow)
                it->second.pop_front();
            it = it->second.empty() ? events->erase(it) : std::next(it);
        }
    nextSweep_ = now + kWindow;
}

bool RateLimiter::Allow(const std::string& client, const std::string& network, int& retryAfter,
                        Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Sweep(now);
    retryAfter = 0;
    auto& mine = clients_[client];
    bool allowed = Within(mine, perClient_, now, retryAfter);
    std::deque<Clock::time_point>* neighbours = nullptr;
    if (perNetwork_ > 0 && !network.empty()) {
        neighbours = &networks_[network];
        allowed = Within(*neighbours, perNetwork_, now, retryAfter) && allowed;
    }
    if (allowed) {
        mine.push_back(now);
        if (neighbours)
            neighbours->push_back(now);
    }
    return allowed;
}
