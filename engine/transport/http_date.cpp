#include "engine/transport/http_date.h"

#include <cstdio>
#include <cstring>

bool ParseHttpDate(const std::string& text, long long& unixSeconds) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char weekday[4] = {}, month[4] = {}, zone[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%3s, %d %3s %d %d:%d:%d %3s", weekday, &day, month, &year, &hour,
                    &minute, &second, zone) != 8 ||
        std::strcmp(zone, "GMT") != 0)
        return false;
    const char* found = std::strstr(kMonths, month);
    if (!found || std::strlen(month) != 3 || (found - kMonths) % 3 != 0)
        return false;
    const unsigned m = static_cast<unsigned>((found - kMonths) / 3 + 1);
    if (day < 1 || day > 31 || year < 1970 || year > 9999 || hour > 23 || minute > 59 ||
        second > 60 || hour < 0 || minute < 0 || second < 0)
        return false;
    // Days since 1970-01-01 of a civil date.
    long long y = year - (m <= 2 ? 1 : 0);
    const long long era = y / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + static_cast<long long>(doe) - 719468;
    unixSeconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}
