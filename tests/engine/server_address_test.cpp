#include "engine/server_address.h"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
    const char* text;
    bool ok;
    const char* host;
    int port;
};

TEST(ParseServerAddress, AcceptsHttpAndHttpsHostsAndRejectsWhatTheClientCannotUse) {
    const AddressCase cases[] = {
        {"127.0.0.1", true, "127.0.0.1", 80},
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"http://bid.example.cn:65535", true, "bid.example.cn", 65535},
        {"http://[::1]:81", true, "::1", 81},
        {"[::1]", true, "::1", 80},
        {"https://127.0.0.1:8443", true, "127.0.0.1", 8443},
        {"https://bid.example.cn", true, "bid.example.cn", 443},
        {"https://[::1]", true, "::1", 443},
        {"HTTPS://127.0.0.1", false, "", 0},
        {"https://", false, "", 0},
        {"ftp://127.0.0.1", false, "", 0},
        {"HTTP://127.0.0.1", false, "", 0},
        {"127.0.0.1:0", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:99999999999", false, "", 0},
        {"127.0.0.1:", false, "", 0},
        {"127.0.0.1:80a", false, "", 0},
        {"127.0.0.1:8080/cfg", false, "", 0},
        {"127.0.0.1/cfg", false, "", 0},
        {"127.0.0.1:8080?x", false, "", 0},
        {"", false, "", 0},
        {"http://", false, "", 0},
        {":8080", false, "", 0},
        {"bid example.cn", false, "", 0},
        {"user@host", false, "", 0},
        {"[::1", false, "", 0},
        {"[]:80", false, "", 0},
    };
    for (const auto& c : cases) {
        ServerAddress address;
        address.host = "unchanged";
        EXPECT_EQ(ParseServerAddress(c.text, address), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(address.host, c.host) << c.text;
            EXPECT_EQ(address.port, c.port) << c.text;
            EXPECT_EQ(address.https, std::string(c.text).rfind("https://", 0) == 0) << c.text;
        } else {
            EXPECT_EQ(address.host, "unchanged") << c.text;
        }
    }
}

TEST(ParseServerUrl, SplitsHttpAndHttpsUrlsIntoAddressAndPath) {
    const struct {
        const char* url;
        bool ok;
        const char* text; // ServerUrlText of what was read
    } cases[] = {
        {"http://10.0.0.5:8080/files/tool.exe", true, "http://10.0.0.5:8080/files/tool.exe"},
        {"https://bid.example.cn/files/a.exe?v=2", true,
         "https://bid.example.cn:443/files/a.exe?v=2"},
        {"https://[::1]:8443/x", true, "https://[::1]:8443/x"},
        {"http://bid.example.cn", true, "http://bid.example.cn:80/"},
        {"https://bid.example.cn:0/x", false, ""},
        {"ftp://bid.example.cn/x", false, ""},
        {"HTTPS://bid.example.cn/x", false, ""},
        {" https://bid.example.cn/x", false, ""},
        {"https:///x", false, ""},
        {"http://bid.example.cn/x\r\nHost: evil", false, ""},
        {"http://user@bid.example.cn/x", false, ""},
    };
    for (const auto& c : cases) {
        ServerAddress address;
        std::string path;
        EXPECT_EQ(ParseServerUrl(c.url, address, path), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(ServerUrlText(address, path), c.text) << c.url;
        }
    }
}

} // namespace
