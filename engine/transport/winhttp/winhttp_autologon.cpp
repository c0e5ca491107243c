#include "engine/transport/winhttp/winhttp_autologon.h"

#include <windows.h>

#include <winhttp.h>

#include <cwctype>
#include <vector>

namespace {

// The hosts of a WinHTTP proxy list: "host:port", "http=a:1;https=b:2", "a:1 b:2",
// "[fe80::1]:8080".
std::vector<std::wstring> ProxyHosts(const std::wstring& list) {
    std::vector<std::wstring> hosts;
    std::wstring entry;
    auto take = [&]() {
        std::wstring e = entry;
        entry.clear();
        const std::size_t eq = e.find(L'=');
        if (eq != std::wstring::npos)
            e = e.substr(eq + 1);
        const std::size_t scheme = e.find(L"://");
        if (scheme != std::wstring::npos)
            e = e.substr(scheme + 3);
        if (e.empty())
            return;
        if (e[0] == L'[') {
            const std::size_t close = e.find(L']');
            e = close == std::wstring::npos ? e.substr(1) : e.substr(1, close - 1);
        } else if (e.find(L':') == e.rfind(L':')) { // not a bare IPv6 address: drop the port
            e = e.substr(0, e.find(L':'));
        }
        hosts.push_back(e);
    };
    for (wchar_t c : list) {
        if (c == L';' || c == L' ' || c == L'\t')
            take();
        else
            entry += c;
    }
    take();
    return hosts;
}

bool ParseIpv4(const std::wstring& host, unsigned char out[4]) {
    int part = 0;
    unsigned value = 0;
    bool digits = false;
    for (wchar_t c : host) {
        if (c >= L'0' && c <= L'9') {
            value = value * 10 + (c - L'0');
            if (value > 255)
                return false;
            digits = true;
        } else if (c == L'.' && digits && part < 3) {
            out[part++] = static_cast<unsigned char>(value);
            value = 0;
            digits = false;
        } else {
            return false;
        }
    }
    if (!digits || part != 3)
        return false;
    out[3] = static_cast<unsigned char>(value);
    return true;
}

} // namespace

bool IntranetHost(const std::wstring& host) {
    if (host.empty())
        return false;
    unsigned char ip[4];
    if (ParseIpv4(host, ip))
        return ip[0] == 127 || ip[0] == 10 || (ip[0] == 172 && (ip[1] & 0xf0) == 16) ||
               (ip[0] == 192 && ip[1] == 168) || (ip[0] == 169 && ip[1] == 254);
    if (host.find(L':') != std::wstring::npos) { // IPv6: loopback, unique local, link-local
        std::wstring h;
        for (wchar_t c : host)
            h += static_cast<wchar_t>(std::towlower(c));
        return h == L"::1" || h.rfind(L"fc", 0) == 0 || h.rfind(L"fd", 0) == 0 ||
               h.rfind(L"fe8", 0) == 0 || h.rfind(L"fe9", 0) == 0 || h.rfind(L"fea", 0) == 0 ||
               h.rfind(L"feb", 0) == 0;
    }
    for (wchar_t c : host)
        if (c == L'.')
            return false;
    return true;
}

unsigned long AutoLogonPolicy(const ProxyChoice& proxy) {
    if (proxy.origin != ProxyOrigin::AutoDetect)
        return WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
    const std::vector<std::wstring> hosts = ProxyHosts(proxy.proxy);
    if (hosts.empty())
        return WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    for (const std::wstring& host : hosts)
        if (!IntranetHost(host))
            return WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    return WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
}
