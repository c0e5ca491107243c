// The Microsoft C runtime's 64-bit time functions over the C library's local time.
#include <winshim/windows.h>

#include <cerrno>
#include <ctime>

namespace {
// 3000-12-31 23:59:59 UTC, the last time _mktime64 accepts.
constexpr __time64_t kLastTime = 32535215999;
} // namespace

__time64_t _mktime64(struct tm* timeptr) {
    if (!timeptr) {
        errno = EINVAL;
        return -1;
    }
    struct tm fields = *timeptr;
    const time_t t = std::mktime(&fields);
    // -1 is both mktime's failure and 1969-12-31 23:59:59 UTC; both lie outside the range.
    if (t < 0 || static_cast<__time64_t>(t) > kLastTime) {
        errno = EINVAL;
        return -1;
    }
    *timeptr = fields; // normalised fields, day of week and of year, as mktime leaves them
    return static_cast<__time64_t>(t);
}

__time64_t _time64(__time64_t* timer) {
    const auto now = static_cast<__time64_t>(std::time(nullptr));
    if (timer)
        *timer = now;
    return now;
}
