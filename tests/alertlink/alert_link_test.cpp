#include "alert_link.h"

#include <cwchar>
#include <gtest/gtest.h>

namespace {

// The command line Windows builds from the registered command for a link.
std::wstring HandlerCommandLine(const std::wstring& link) {
    return L"\"C:\\Program Files\\alert\\openAlertLink.exe\" \"" + link + L"\"";
}

struct LinkCase {
    const wchar_t* link;
    const wchar_t* page; // nullptr: refused
};

const LinkCase kLinks[] = {
    {L"alert:http://host/path?a=1&b=2", L"http://host/path?a=1&b=2"},
    {L"ALERT:HTTPS://host:8443/x%20y", L"HTTPS://host:8443/x%20y"},
    {L"alert:http://host/a b^|<>%PATH%", L"http://host/a b^|<>%PATH%"},
    // Injection attempts: each holds a quote, which would end the quoted argument.
    {L"alert:http://x/\"&echo X>C:\\pwn.txt&\"", nullptr},
    {L"alert:http://x/\" & echo X>C:\\pwn.txt & rem \"", nullptr},
    {L"alert:http://x/\"&echo X>C:\\pwn.txt", nullptr},
    {L"alert:http://x/%%\"&echo X>C:\\pwn.txt&\"", nullptr},
    // Not an http(s) page, or not an alert link.
    {L"alert:file:///C:/Windows/System32/calc.exe", nullptr},
    {L"alert:javascript:alert(1)", nullptr},
    {L"alert:\\\\server\\share\\x.exe", nullptr},
    {L"alert:http://", nullptr},
    {L"http://host/", nullptr},
    {L"", nullptr},
    // Not printable ASCII.
    {L"alert:http://host/\u4e2d", nullptr},
    {L"alert:http://host/\tx", nullptr},
    {L"alert:http://host/\x7f", nullptr},
};

TEST(AlertLink, OpensOnlyHttpPagesOfAlertLinks) {
    for (const LinkCase& c : kLinks) {
        std::wstring page = L"unchanged";
        const bool opened = PageOfAlertLink(ArgumentsOf(HandlerCommandLine(c.link)), page);
        const std::string name(c.link, c.link + wcslen(c.link)); // for the message only
        if (c.page) {
            EXPECT_TRUE(opened) << name;
            EXPECT_EQ(page, c.page) << name;
        } else {
            EXPECT_FALSE(opened) << name;
            EXPECT_EQ(page, L"unchanged") << name;
        }
    }
}

TEST(AlertLink, ArgumentsFollowTheProgramName) {
    EXPECT_EQ(ArgumentsOf(L"\"C:\\a b\\h.exe\"  \"alert:http://x/\""), L"\"alert:http://x/\"");
    EXPECT_EQ(ArgumentsOf(L"h.exe alert:http://x/"), L"alert:http://x/");
    EXPECT_EQ(ArgumentsOf(L"h.exe"), L"");
    // An unquoted link is taken as it is.
    std::wstring page;
    EXPECT_TRUE(PageOfAlertLink(ArgumentsOf(L"h.exe alert:http://x/"), page));
    EXPECT_EQ(page, L"http://x/");
}

TEST(AlertLink, QuotesForTheWindowsParser) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"http://x/a b", L"\"http://x/a b\""},
        {L"C:\\Program Files\\b.exe", L"\"C:\\Program Files\\b.exe\""},
        {L"http://x/a\\", L"\"http://x/a\\\\\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"", L"\"\""},
    };
    for (const auto& [arg, quoted] : cases)
        EXPECT_EQ(QuoteArgument(arg), quoted);
}

TEST(AlertLink, OpensOnlyThePortalAndTheSiteListsHosts) {
    const std::vector<std::string> hosts = {"ebid.quelda.com", "intra.example:8080"};
    const std::pair<const wchar_t*, bool> links[] = {
        {L"alert:http://ebid.quelda.com/bid", true},
        {L"alert:https://sign.ebid.quelda.com/", true},
        {L"alert:http://intra.example:8080/x", true},
        {L"alert:http://intra.example/x", false},
        {L"alert:http://evil.example/?ebid.quelda.com", false},
        {L"alert:http://ebid.quelda.com.evil.example/", false},
        {L"alert:http://ebid.quelda.com@evil.example/", false},
    };
    for (const auto& [link, allowed] : links) {
        std::wstring page;
        EXPECT_EQ(AllowedPageOf(HandlerCommandLine(link), hosts, page), allowed)
            << std::string(link, link + wcslen(link));
        EXPECT_EQ(page.empty(), !allowed);
    }
}

} // namespace
