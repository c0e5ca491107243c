// FILETIME: 100-ns intervals since 1601-01-01 00:00 UTC.
#include "time_filetime.h"

namespace winshim {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kTicksPerMillisecond = 10000;
constexpr uint64_t kMillisecondsPerDay = 86400000;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysTo1970 = 134774;

// Proleptic Gregorian date of a day count since 1970-01-01 (H. Hinnant's civil_from_days).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
}

} // namespace

FILETIME FileTimeFromUnix(int64_t seconds, long nanoseconds) {
    const int64_t minSeconds = -static_cast<int64_t>(kUnixEpochAsFileTime / kTicksPerSecond);
    uint64_t ticks = 0;
    if (seconds >= minSeconds) {
        ticks = static_cast<uint64_t>(seconds - minSeconds) * kTicksPerSecond +
                static_cast<uint64_t>(nanoseconds / 100);
    }
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

} // namespace winshim

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (!lpFileTime || !lpSystemTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ticks =
        (static_cast<uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if (ticks >= 0x8000000000000000ull) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t ms = ticks / winshim::kTicksPerMillisecond;
    const auto days = static_cast<int64_t>(ms / winshim::kMillisecondsPerDay);
    const uint64_t msOfDay = ms % winshim::kMillisecondsPerDay;

    int64_t year;
    unsigned month, day;
    winshim::CivilFromDays(days - winshim::kDaysTo1970, year, month, day);

    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7); // 1601-01-01 was a Monday
    lpSystemTime->wHour = static_cast<WORD>(msOfDay / 3600000);
    lpSystemTime->wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
    lpSystemTime->wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(msOfDay % 1000);
    return TRUE;
}
