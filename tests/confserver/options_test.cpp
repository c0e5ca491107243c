#include "options.h"

#include <gtest/gtest.h>

namespace {

TEST(Options, DefaultsAndNormalisedValues) {
    ServerOptions o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"doc.json"}, o, error)) << error;
    EXPECT_EQ(o.documentFile, "doc.json");
    EXPECT_EQ(o.documentPath, "/envcheck/config.json");
    EXPECT_EQ(o.filesPrefix, "/files/");
    EXPECT_EQ(o.address, "127.0.0.1");
    EXPECT_EQ(o.port, 8080);
    EXPECT_TRUE(o.filesDir.empty());

    ServerOptions n;
    ASSERT_TRUE(ParseOptions({"--port=0", "--files-prefix", "/dl", "--base-url",
                              "http://10.0.0.5:8080/", "--files=inst", "d.json", "--path", "/cfg"},
                             n, error))
        << error;
    EXPECT_EQ(n.port, 0);
    EXPECT_EQ(n.filesPrefix, "/dl/");
    EXPECT_EQ(n.baseUrl, "http://10.0.0.5:8080");
    EXPECT_EQ(n.filesDir, "inst");
    EXPECT_EQ(n.documentPath, "/cfg");

    ServerOptions tls;
    ASSERT_TRUE(ParseOptions({"--base-url", "https://bid.example.cn/", "d.json"}, tls, error))
        << error;
    EXPECT_EQ(tls.baseUrl, "https://bid.example.cn");
}

TEST(Options, RefusesInconsistentCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"a.json", "b.json"},
        {"--verbose", "a.json"},
        {"--port", "65536", "a.json"},
        {"--port", "-1", "a.json"},
        {"--port"},
        {"--path", "envcheck", "a.json"},
        {"--files-prefix", "/", "a.json"},
        {"--files-prefix", "/files/", "--path", "/files/config.json", "a.json"},
        {"--base-url", "ftp://x", "a.json"},
        {"--base-url", "https://x/sub", "a.json"},
        {"--base-url", "http://x/sub", "a.json"},
        {"--base-url", "http://x:0", "a.json"},
        {"--fill-sha256", "a.json"},
        {"--output", "o.json", "a.json"},
        {"--check", "--fill-sha256", "--files", "d", "a.json"},
        {"--behind-proxy=proxy.example.cn", "a.json"},
    };
    for (const auto& args : bad) {
        ServerOptions o;
        std::string error;
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_FALSE(ParseOptions(args, o, error)) << shown;
        EXPECT_FALSE(error.empty()) << shown;
    }
}

// The proxy's address is optional: a next argument is it only when it is an address, so that
// the document file after the option stays the document.
TEST(Options, BehindProxyTakesAnAddressOrTheLoopbackProxies) {
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"d.json"}, {}},
        {{"--behind-proxy", "d.json"}, {"127.0.0.1", "::1"}},
        {{"--behind-proxy", "10.0.0.2", "d.json"}, {"10.0.0.2"}},
        {{"d.json", "--behind-proxy", "::ffff:10.0.0.2"}, {"10.0.0.2"}},
        {{"--behind-proxy=2001:DB8::1", "d.json"}, {"2001:db8::1"}},
    };
    for (const auto& [args, proxies] : cases) {
        ServerOptions o;
        std::string error;
        ASSERT_TRUE(ParseOptions(args, o, error)) << error;
        EXPECT_EQ(o.proxies, proxies) << args[0];
        EXPECT_EQ(o.documentFile, "d.json") << args[0];
    }
}

} // namespace
