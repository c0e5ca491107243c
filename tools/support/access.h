#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

// Reads the staff token from `file`, or creates the file (mode 0600) with a new random token.
// `created` tells whether it was created. False with `error` when neither works or the file
// holds no token.
bool LoadOrCreateToken(const std::string& file, std::string& token, bool& created,
                       std::string& error);

// Compares two texts in time that depends only on their lengths.
bool SameSecret(const std::string& a, const std::string& b);

// Random bytes from the system as hex; empty when the source fails.
std::string RandomHex(size_t bytes);

// Sessions of logged-in staff: random ids that expire.
class Sessions {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Sessions(std::chrono::seconds lifetime = std::chrono::hours(12))
        : lifetime_(lifetime) {}

    // A new session id; empty when the random source fails.
    std::string Create();
    bool Valid(const std::string& id);
    void End(const std::string& id);

  private:
    const std::chrono::seconds lifetime_;
    std::mutex mutex_;
    std::map<std::string, Clock::time_point> expiry_;
};
