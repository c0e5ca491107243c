#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

// Reads the staff token from `file`, or creates the file (mode 0600) with a new random token.
// `created` tells whether it was created. False with `error` when neither works or the file
// holds no token.
// An operator's own token shorter than this is refused at start: guessable.
inline constexpr std::size_t kMinTokenLength = 24;
bool LoadOrCreateToken(const std::string& file, std::string& token, bool& created,
                       std::string& error);

// Compares two texts in time that depends only on their lengths.
bool SameSecret(const std::string& a, const std::string& b);

// Random bytes from the system as hex; empty when the source fails.
std::string RandomHex(size_t bytes);

// A new staff token: 192 random bits as 48 hex digits; empty when the source fails.
std::string NewStaffToken();
// SHA-256 of the text as 64 lower-case hex digits: what the database keeps of a token.
std::string TokenHash(const std::string& token);
// A staff name: 1 to 32 letters, digits, '.', '_' or '-'.
bool ValidStaffName(const std::string& name);

// Sessions of logged-in staff: random ids that expire, each for one staff name.
class Sessions {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Sessions(std::chrono::seconds lifetime = std::chrono::hours(12))
        : lifetime_(lifetime) {}

    // A new session id for `staff`; empty when the random source fails.
    std::string Create(const std::string& staff);
    // True, with the session's staff name, while the session lasts.
    bool Valid(const std::string& id, std::string& staff);
    void End(const std::string& id);

  private:
    struct Session {
        std::string staff;
        Clock::time_point expiry;
    };
    const std::chrono::seconds lifetime_;
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
};
