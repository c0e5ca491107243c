// FILETIME to SYSTEMTIME, and the C runtime's _mktime64 with its 1970..3000 range.
#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

FILETIME Ft(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The zone of the target workstations: UTC+8, no daylight saving. POSIX writes it "CST-8".
class ChinaTime : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            old_ = tz, hadOld_ = true;
        setenv("TZ", "CST-8", 1);
        tzset();
    }
    void TearDown() override {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::string old_;
    bool hadOld_ = false;
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

} // namespace

TEST(FileTimeToSystemTime, KnownInstants) {
    const struct {
        uint64_t ticks;
        SYSTEMTIME expected; // year, month, day of week, day, hour, minute, second, ms
    } cases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},                            // a Monday
        {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},        // a Thursday
        {133415478401234567ull, {2023, 10, 4, 12, 1, 30, 40, 123}},  // ms truncated
        {125962560000000000ull, {2000, 2, 2, 29, 0, 0, 0, 0}},       // leap day, Tuesday
        {126227807999990000ull, {2000, 12, 0, 31, 23, 59, 59, 999}}, // Sunday
        {0x7FFFFFFFFFFFFFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}},   // the last one
    };
    for (const auto& c : cases) {
        SYSTEMTIME st{};
        const FILETIME ft = Ft(c.ticks);
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << c.ticks;
        EXPECT_EQ(st.wYear, c.expected.wYear) << c.ticks;
        EXPECT_EQ(st.wMonth, c.expected.wMonth) << c.ticks;
        EXPECT_EQ(st.wDayOfWeek, c.expected.wDayOfWeek) << c.ticks;
        EXPECT_EQ(st.wDay, c.expected.wDay) << c.ticks;
        EXPECT_EQ(st.wHour, c.expected.wHour) << c.ticks;
        EXPECT_EQ(st.wMinute, c.expected.wMinute) << c.ticks;
        EXPECT_EQ(st.wSecond, c.expected.wSecond) << c.ticks;
        EXPECT_EQ(st.wMilliseconds, c.expected.wMilliseconds) << c.ticks;
    }
}

TEST(FileTimeToSystemTime, RefusesNegativeTimesAndNullPointers) {
    SYSTEMTIME st{};
    const FILETIME negative = Ft(0x8000000000000000ull);
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const FILETIME all = Ft(~0ull);
    EXPECT_FALSE(FileTimeToSystemTime(&all, &st));
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &st));
    EXPECT_FALSE(FileTimeToSystemTime(&negative, nullptr));
}

TEST_F(ChinaTime, Mktime64ReadsLocalTimeWithinItsRange) {
    const struct {
        tm fields;
        __time64_t expected;
    } cases[] = {
        {Fields(1970, 1, 1, 8, 0, 0), 0},    // the first valid second
        {Fields(1970, 1, 1, 7, 59, 59), -1}, // one before: 1969 in UTC
        {Fields(1970, 1, 1, 0, 0, 0), -1},
        {Fields(1900, 0, 0, 0, 0, 0), -1},               // all fields zero: year 0 day 0
        {Fields(2023, 10, 12, 9, 30, 0), 1697074200},    // 01:30 UTC
        {Fields(2023, 10, 12, 9, 30, 0, 0), 1697074200}, // no DST flag: same
        {Fields(2023, 13, 1, 0, 0, 0), 1704038400},      // month 13 -> January 2024
        {Fields(2024, 3, 0, 12, 0, 0), 1709179200},      // day 0 -> 29 February
        {Fields(3001, 1, 1, 7, 59, 59), 32535215999},    // 3000-12-31 23:59:59 UTC
        {Fields(3001, 1, 1, 8, 0, 0), -1},               // one past
        {Fields(99999, 1, 1, 0, 0, 0), -1},
    };
    for (const auto& c : cases) {
        tm t = c.fields;
        EXPECT_EQ(_mktime64(&t), c.expected)
            << 1900 + c.fields.tm_year << "-" << c.fields.tm_mon + 1 << "-" << c.fields.tm_mday
            << " " << c.fields.tm_hour << ":" << c.fields.tm_min << ":" << c.fields.tm_sec;
    }
    EXPECT_EQ(_mktime64(nullptr), -1);
}

TEST_F(ChinaTime, Mktime64NormalisesTheFields) {
    tm t = Fields(2023, 13, 1, 0, 0, 0);
    ASSERT_NE(_mktime64(&t), -1);
    EXPECT_EQ(t.tm_year, 124);
    EXPECT_EQ(t.tm_mon, 0);
    EXPECT_EQ(t.tm_wday, 1); // 2024-01-01 was a Monday
    EXPECT_EQ(t.tm_isdst, 0);
}

TEST(Time64, IsTheCurrentUnixTime) {
    __time64_t stored = 0;
    const time_t before = std::time(nullptr);
    const __time64_t now = _time64(&stored);
    const time_t after = std::time(nullptr);
    EXPECT_EQ(stored, now);
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    EXPECT_GE(_time64(nullptr), now);
}
