#include "engine/trust/trusted_comment.h"

#include <cstdio>
#include <vector>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool Digits(const std::string& text, std::size_t pos, std::size_t count, unsigned& value) {
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

std::optional<std::uint64_t> ParseDecimal(const std::string& text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

} // namespace

std::optional<long long> ParseUtcTime(const std::string& text) {
    // 2027-03-01T00:00:00Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z')
        return std::nullopt;
    unsigned year, month, day, hour, minute, second;
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second))
        return std::nullopt;
    static const unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
        (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string UtcTimeText(long long unixSeconds) {
    long long days = unixSeconds / 86400;
    long long rest = unixSeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    long long year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", year, month, day,
                  rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

bool ParseTrustedComment(const std::string& comment, TrustedComment& parsed, std::string& why) {
    parsed = TrustedComment();
    for (const std::string& word : Words(comment)) {
        const std::size_t eq = word.find_first_of("=:");
        if (eq == std::string::npos)
            continue;
        const std::string name = word.substr(0, eq + 1);
        const std::string value = word.substr(eq + 1);
        if (name == "serial=") {
            if (parsed.serial) {
                why = "serial appears twice in the trusted comment";
                return false;
            }
            parsed.serial = ParseDecimal(value, 10);
            if (!parsed.serial || *parsed.serial > kMaxSerial) {
                why = "serial is not a decimal number from 0 to 4294967295: " + value;
                return false;
            }
        } else if (name == "expires=") {
            if (parsed.expires) {
                why = "expires appears twice in the trusted comment";
                return false;
            }
            parsed.expires = ParseUtcTime(value);
            if (!parsed.expires) {
                why = "expires is not a time of the form YYYY-MM-DDTHH:MM:SSZ: " + value;
                return false;
            }
        } else if (name == "signed=" || name == "timestamp:") {
            if (parsed.signedAt) {
                why = "the signing time appears twice in the trusted comment";
                return false;
            }
            if (name == "signed=") {
                parsed.signedAt = ParseUtcTime(value);
            } else if (const auto seconds = ParseDecimal(value, 12)) {
                parsed.signedAt = static_cast<long long>(*seconds);
            }
            if (!parsed.signedAt) {
                why = "the signing time is malformed: " + word;
                return false;
            }
        }
    }
    return true;
}
