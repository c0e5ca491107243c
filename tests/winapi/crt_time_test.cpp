// The runtime library's _mktime64 and _time64: local time read in China Standard Time, the
// range that Microsoft's runtime accepts, and normalisation of the fields.
#include "api_env.h"

#include <ctime>

namespace {

// The zone of the target workstations: UTC+8, no daylight saving. POSIX writes it "CST-8".
class ChinaTime : public ::testing::Test {
  private:
    ScopedTimeZone zone_{"CST-8"};
};

tm Fields(int year, int month, int day, int hour, int minute, int second, int isdst = -1) {
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = isdst;
    return t;
}

TEST_F(ChinaTime, Mktime64ReadsLocalTimeWithinItsRange) {
    const struct {
        tm fields;
        __time64_t expected;
    } cases[] = {
        {Fields(1970, 1, 1, 8, 0, 0), 0},    // the first valid second
        {Fields(1970, 1, 1, 7, 59, 59), -1}, // one before: 1969 in UTC
        {Fields(1970, 1, 1, 0, 0, 0), -1},
        {Fields(1900, 0, 0, 0, 0, 0), -1}, // all fields zero: year 0, day 0
        {Fields(2023, 10, 12, 9, 30, 0), 1697074200},
        {Fields(2023, 10, 12, 9, 30, 0, 0), 1697074200}, // no DST flag: the same
        {Fields(2023, 13, 1, 0, 0, 0), 1704038400},      // month 13 is January 2024
        {Fields(2024, 3, 0, 12, 0, 0), 1709179200},      // day 0 is 29 February
        {Fields(3001, 1, 1, 7, 59, 59), 32535215999},    // 3000-12-31 23:59:59 UTC
        {Fields(3001, 1, 1, 8, 0, 0), -1},               // one past
        {Fields(99999, 1, 1, 0, 0, 0), -1},
    };
    for (const auto& c : cases) {
        // Wine's runtime applies the end of year 3000 to the local time, so in UTC+8 its
        // last eight hours in UTC already fail there.
        if (RunningUnderWine() && c.expected == 32535215999)
            continue;
        tm t = c.fields;
        EXPECT_EQ(_mktime64(&t), c.expected)
            << 1900 + c.fields.tm_year << "-" << c.fields.tm_mon + 1 << "-" << c.fields.tm_mday
            << " " << c.fields.tm_hour << ":" << c.fields.tm_min << ":" << c.fields.tm_sec;
    }
}

TEST_F(ChinaTime, Mktime64NormalisesTheFields) {
    tm t = Fields(2023, 13, 1, 0, 0, 0);
    ASSERT_NE(_mktime64(&t), -1);
    EXPECT_EQ(t.tm_year, 124);
    EXPECT_EQ(t.tm_mon, 0);
    EXPECT_EQ(t.tm_mday, 1);
    EXPECT_EQ(t.tm_wday, 1); // 2024-01-01 was a Monday
    EXPECT_EQ(t.tm_yday, 0);
    EXPECT_EQ(t.tm_isdst, 0);
}

TEST(Time64, IsTheCurrentUnixTime) {
    __time64_t stored = 0;
    const time_t before = std::time(nullptr);
    const __time64_t now = _time64(&stored);
    const time_t after = std::time(nullptr);
    EXPECT_EQ(stored, now);
    EXPECT_GE(now, static_cast<__time64_t>(before));
    EXPECT_LE(now, static_cast<__time64_t>(after));
    EXPECT_EQ(_time64(nullptr) >= now, true);
}

} // namespace
