// Which proxies may be answered with the user's own Windows credentials.
#include "engine/transport/winhttp/winhttp_autologon.h"

#include <windows.h>

#include <winhttp.h>

#include <gtest/gtest.h>

namespace {

ProxyChoice Proxy(ProxyOrigin origin, const wchar_t* list) {
    ProxyChoice choice;
    choice.named = true;
    choice.origin = origin;
    choice.proxy = list;
    return choice;
}

} // namespace

TEST(AutoLogonPolicy, OnlyTheIntranetGetsTheUsersCredentials) {
    const unsigned long medium = WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
    const unsigned long never = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    // The user's or an administrator's own setting: intranet only, never "any proxy".
    EXPECT_EQ(AutoLogonPolicy(Proxy(ProxyOrigin::Manual, L"proxy.example.com:8080")), medium);
    EXPECT_EQ(AutoLogonPolicy(Proxy(ProxyOrigin::Script, L"proxy.example.com:8080")), medium);
    // Whatever answered WPAD: only a proxy that is plainly on the local network.
    for (const wchar_t* local :
         {L"proxy:8080", L"10.1.2.3:3128", L"172.20.0.1:80", L"192.168.1.1:8080", L"127.0.0.1:3128",
          L"[fe80::1]:8080", L"http=10.0.0.1:80;https=10.0.0.2:443"})
        EXPECT_EQ(AutoLogonPolicy(Proxy(ProxyOrigin::AutoDetect, local)), medium) << local;
    for (const wchar_t* outside :
         {L"proxy.evil.example:8080", L"8.8.8.8:3128", L"172.32.0.1:80", L"[2001:db8::1]:8080",
          L"http=10.0.0.1:80;https=203.0.113.5:443", L"10.0.0.1.evil.example:80", L""})
        EXPECT_EQ(AutoLogonPolicy(Proxy(ProxyOrigin::AutoDetect, outside)), never) << outside;
}
