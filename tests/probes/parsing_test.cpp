#include "probe_test_env.h"
#include "probes/file_probes.h"
#include "probes/textconv.h"

#include <gtest/gtest.h>

using namespace probetest;

namespace {
const __time64_t kEightHours = 28800;

struct DateCase {
    const char* tz;
    const char* text;
    __time64_t expected;
};

TEST(ParseDateTime, ReadsLocalTimeToTheMinuteMinusEightHours) {
    const DateCase cases[] = {
        // 2023-10-12 09:30 in China Standard Time is 01:30 UTC (1697074200).
        {"CST-8", "2023-10-12 09:30", 1697074200 - kEightHours},
        {"CST-8", "  2023-10-12 09:30", 1697074200 - kEightHours},
        {"CST-8", "2023-10-12 09:30:59", 1697074200 - kEightHours},
        {"CST-8", "2023-10-12", 1697040000 - kEightHours}, // midnight
        {"CST-8", "2023-10-12 9", 1697040000 + 9 * 3600 - kEightHours},
        {"UTC0", "2023-10-12 09:30", 1697103000 - kEightHours},
        // Day 0 of year 0 is out of range: _mktime64 yields -1.
        {"CST-8", "", -1 - kEightHours},
        {"CST-8", "yesterday", -1 - kEightHours},
        {"CST-8", "1960-01-01 00:00", -1 - kEightHours},
    };
    for (const auto& c : cases) {
        ScopedTimeZone tz(c.tz);
        EXPECT_EQ(ParseDateTime(c.text), c.expected) << c.tz << " '" << c.text << "'";
    }
}

struct UrlCase {
    std::string url;
    const char* host; // nullptr: no match, outputs untouched
    const char* path;
};

TEST(SplitHttpUrl, SplitsPlainHttpUrlsOnly) {
    const UrlCase cases[] = {
        {"http://10.0.0.5:8080/files/tool.exe", "10.0.0.5:8080", "/files/tool.exe"},
        {"http://example.com", "example.com", ""},
        {"http://example.com/", "example.com", "/"},
        {"http://example.com/a/b?x=1#f", "example.com", "/a/b?x=1#f"},
        {"https://example.com/x", nullptr, nullptr},
        {"HTTP://example.com/x", nullptr, nullptr},
        {" http://example.com/x", nullptr, nullptr},
        {"http:///x", nullptr, nullptr},
        {"http://example.com/a\nb", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        std::string host = "old host", path = "old path";
        SplitHttpUrl(c.url, host, path);
        EXPECT_EQ(host, c.host ? c.host : "old host") << c.url;
        EXPECT_EQ(path, c.path ? c.path : "old path") << c.url;
    }
}

TEST(SplitHttpUrl, VeryLongUrlsAreRejectedWithoutExhaustingTheStack) {
    const std::string prefix = "http://h/";
    const std::string longest = prefix + std::string(2083 - prefix.size(), 'a');
    std::string host, path;
    SplitHttpUrl(longest, host, path);
    EXPECT_EQ(host, "h");
    EXPECT_EQ(path.size(), 2083u - 8);

    for (size_t size : {2084u, 1000000u}) {
        std::string h = "old", p = "old";
        SplitHttpUrl(prefix + std::string(size, 'a'), h, p);
        EXPECT_EQ(h, "old") << size;
        EXPECT_EQ(p, "old") << size;
    }
}

TEST(TextConversion, Utf8AndGbkRoundTripAndDropWhatTheyCannotConvert) {
    EXPECT_EQ(Utf8ToGbk("默认"), "\xC4\xAC\xC8\xCF");
    EXPECT_EQ(Utf8ToGbk("C:\\中文\\a.dll"), "C:\\\xD6\xD0\xCE\xC4\\a.dll");
    EXPECT_EQ(GbkToUtf8("C:\\\xD6\xD0\xCE\xC4\\a.dll"), "C:\\中文\\a.dll");
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk("安装目录 ASCII 123")), "安装目录 ASCII 123");
    EXPECT_EQ(Utf8ToGbk(""), "");
    EXPECT_EQ(GbkToUtf8(""), "");
    // Invalid input bytes and characters outside GBK are dropped, the rest is kept.
    EXPECT_EQ(Utf8ToGbk("a\xFF"
                        "b"),
              "ab");
    EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80"
                        "b"),
              "ab"); // U+1F600 has no GBK form
    EXPECT_EQ(GbkToUtf8("a\xFF"
                        "b"),
              "ab");
}
} // namespace
