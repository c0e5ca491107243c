#include "common/text/ascii.h"
#include "probe_test_env.h"
#include "probes/file_probes.h"
#include "probes/textconv.h"

#include <gtest/gtest.h>
#include <regex>
#include <vector>

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
        // Fields beyond any date read as unparsable text, without overflow on the way.
        {"CST-8", "-2147483648-10-12 09:30", -1 - kEightHours},
        {"CST-8", "2147483647-10-12 09:30", -1 - kEightHours},
        {"CST-8", "2023--2147483648-12 09:30", -1 - kEightHours},
        {"CST-8", "2023-10-12 99999999999999999999:30", -1 - kEightHours},
        {"CST-8", "2023-10-12 09:-5", -1 - kEightHours},
        // Small overflows are normalised as before: month 13 is January of the next year.
        {"CST-8", "2022-13-12 09:30", 1673487000 - kEightHours},
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

TEST(SplitHttpUrl, AgreesWithTheUrlPatternOnEveryShortText) {
    // Every text of up to 5 characters over an alphabet that exercises the pattern's
    // corners, after "http://" and alone.
    const std::regex pattern("http://([^/]+)(/?.*)", std::regex::ECMAScript);
    const std::string alphabet = "h/:\n\r ";
    std::vector<std::string> tails = {""};
    for (size_t len = 0, from = 0; len < 5; ++len) {
        const size_t to = tails.size();
        for (size_t i = from; i < to; ++i)
            for (char c : alphabet)
                tails.push_back(tails[i] + c);
        from = to;
    }
    for (const std::string& tail : tails) {
        for (const std::string& url : {"http://" + tail, tail}) {
            std::string host = "old", path = "old";
            SplitHttpUrl(url, host, path);
            std::smatch m;
            if (std::regex_match(url, m, pattern)) {
                EXPECT_EQ(host, m[1].str()) << url;
                EXPECT_EQ(path, m[2].str()) << url;
            } else {
                EXPECT_EQ(host, "old") << url;
                EXPECT_EQ(path, "old") << url;
            }
        }
    }
}

TEST(SplitHttpUrl, VeryLongUrlsSplitWithoutExhaustingTheStack) {
    const std::string url = "http://h/" + std::string(1000000, 'a');
    std::string host, path;
    SplitHttpUrl(url, host, path);
    EXPECT_EQ(host, "h");
    EXPECT_EQ(path.size(), 1000001u);
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

// Header names, host names and hex digits compare and fold only A-Z: the bytes of GBK or
// UTF-8 text, and the punctuation 32 code points away from a letter, stay what they are.
TEST(AsciiText, FoldsOnlyAsciiLettersAndTrimsAsciiSpace) {
    EXPECT_TRUE(ascii::EqualIgnoringCase("Transfer-Encoding", "transfer-ENCODING"));
    EXPECT_TRUE(ascii::EqualIgnoringCase("", ""));
    EXPECT_FALSE(ascii::EqualIgnoringCase("chunked", "chunked "));
    EXPECT_FALSE(ascii::EqualIgnoringCase("chunked", "chunke"));
    EXPECT_FALSE(ascii::EqualIgnoringCase("@[\\]^", "`{|}~"));
    EXPECT_FALSE(ascii::EqualIgnoringCase("\xC4", "\xE4")); // Latin-1 A/a umlaut; a GBK lead byte
    EXPECT_TRUE(ascii::EqualIgnoringCase("\xD6\xD0Z", "\xD6\xD0z"));

    EXPECT_EQ(ascii::Lower("HTTP://Portal.Example.CN:8080/Ab"), "http://portal.example.cn:8080/ab");
    EXPECT_EQ(ascii::Lower("默认ABC\xC4"), "默认abc\xC4");
    EXPECT_EQ(ascii::Lower("@[`{"), "@[`{");

    EXPECT_EQ(ascii::Trim(" \t\r\n x  y \v\f"), "x  y");
    EXPECT_EQ(ascii::Trim(" \t "), "");
    EXPECT_EQ(ascii::Trim(""), "");
    EXPECT_EQ(ascii::Trim("\xA1\xA1x\xA1\xA1"), "\xA1\xA1x\xA1\xA1"); // a GBK full-width space
}
} // namespace
