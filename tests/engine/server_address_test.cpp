#include "engine/server_address.h"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
    const char* text;
    bool ok;
    const char* host;
    int port;
};

TEST(ParseServerAddress, AcceptsPlainHttpHostsAndRejectsWhatTheClientCannotUse) {
    const AddressCase cases[] = {
        {"127.0.0.1", true, "127.0.0.1", 80},
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"http://bid.example.cn:65535", true, "bid.example.cn", 65535},
        {"http://[::1]:81", true, "::1", 81},
        {"[::1]", true, "::1", 80},
        {"https://127.0.0.1:443", false, "", 0},
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
        } else {
            EXPECT_EQ(address.host, "unchanged") << c.text;
        }
    }
}

} // namespace
