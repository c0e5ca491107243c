#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

// At most `perClient` events per client in any minute, and at most `perNetwork` per network
// the client is in (0: no network limit), so that a crowd of neighbouring addresses gets no
// more than a few clients would.
class RateLimiter {
  public:
    using Clock = std::chrono::steady_clock;
    explicit RateLimiter(int perClient, int perNetwork = 0)
        : perClient_(perClient), perNetwork_(perNetwork) {}

    // Counts one event of `client` in `network` (empty: none); true when both are within
    // their limits. Otherwise `retryAfter` is the number of whole seconds until the next event
    // would be allowed, and the event is not counted.
    bool Allow(const std::string& client, const std::string& network, int& retryAfter,
               Clock::time_point now = Clock::now());
    bool Allow(const std::string& client, int& retryAfter, Clock::time_point now = Clock::now()) {
        return Allow(client, "", retryAfter, now);
    }

  private:
    using Events = std::map<std::string, std::deque<Clock::time_point>>;
    void Sweep(Clock::time_point now);

    const int perClient_, perNetwork_;
    std::mutex mutex_;
    Events clients_, networks_;
    Clock::time_point nextSweep_{};
};
