#pragma once

// The words of a signed document's trusted comment, e.g. "serial=42
// expires=2027-03-01T00:00:00Z": separated by spaces or tabs, in any order; words this
// program does not know are ignored. `serial` (a decimal number) and `expires` (UTC, to
// the second) are required. The time the document was signed is taken from
// `signed=YYYY-MM-DDTHH:MM:SSZ` or from minisign's own `timestamp:N` where one is there.

#include <cstdint>
#include <optional>
#include <string>

// The serial is kept in a REG_DWORD.
inline constexpr std::uint64_t kMaxSerial = 0xFFFFFFFFu;

struct TrustedComment {
    std::optional<std::uint64_t> serial;
    std::optional<long long> expires;  // Unix seconds
    std::optional<long long> signedAt; // Unix seconds
};

// False, with `why`, for a known word whose value is malformed or that appears twice.
// Missing words are not an error here: the caller decides.
bool ParseTrustedComment(const std::string& comment, TrustedComment& parsed, std::string& why);

// "YYYY-MM-DDTHH:MM:SSZ" to Unix seconds (years 1970 to 9999); nothing for other text.
std::optional<long long> ParseUtcTime(const std::string& text);
// Unix seconds to "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText(long long unixSeconds);
