#include "engine/transport/winhttp/winhttp_proxy.h"

#include "engine/transport/winhttp/winhttp_text.h"

#include <windows.h>

#include <winhttp.h>

#include <atomic>

namespace {

struct IeSettings {
    bool autoDetect = false;
    std::wstring scriptUrl;
    std::wstring proxy;
    std::wstring bypass;
};

std::wstring TakeGlobal(LPWSTR text) {
    if (!text)
        return std::wstring();
    std::wstring copy(text);
    GlobalFree(text);
    return copy;
}

std::wstring StringValue(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t) || size > 65536)
        return std::wstring();
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) !=
        ERROR_SUCCESS)
        return std::wstring();
    value.resize(size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

// The values under Internet Settings that Windows keeps in step with the connection's own
// settings, and that policies, deployment scripts and Wine's settings write alone.
void ReadInternetSettingsValues(IeSettings& settings) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return;
    settings.scriptUrl = StringValue(key, L"AutoConfigURL");
    DWORD enabled = 0, type = 0, size = sizeof(enabled);
    if (RegQueryValueExW(key, L"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && enabled != 0) {
        settings.proxy = StringValue(key, L"ProxyServer");
        settings.bypass = StringValue(key, L"ProxyOverride");
    }
    RegCloseKey(key);
}

IeSettings ReadIeSettings() {
    IeSettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&config)) {
        settings.autoDetect = config.fAutoDetect != FALSE;
        settings.scriptUrl = TakeGlobal(config.lpszAutoConfigUrl);
        settings.proxy = TakeGlobal(config.lpszProxy);
        settings.bypass = TakeGlobal(config.lpszProxyBypass);
    }
    if (settings.scriptUrl.empty() && settings.proxy.empty())
        ReadInternetSettingsValues(settings);
    return settings;
}

// Runs the script (or finds one by auto-detection) for the URL; false with the error code
// when it cannot be found, fetched or run.
bool AskScript(const std::wstring& url, WINHTTP_AUTOPROXY_OPTIONS options, int timeoutMs,
               ProxyOrigin origin, ProxyChoice& choice, DWORD& error) {
    HINTERNET session = WinHttpOpen(L"Quelda", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        error = GetLastError();
        return false;
    }
    WinHttpSetTimeouts(session, timeoutMs, timeoutMs, timeoutMs, timeoutMs);
    WINHTTP_PROXY_INFO info{};
    // Without credentials first; with the user's own only when the script's server asks.
    options.fAutoLogonIfChallenged = FALSE;
    BOOL ok = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    if (!ok && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        ok = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    }
    error = ok ? 0 : GetLastError();
    WinHttpCloseHandle(session);
    if (!ok)
        return false;
    const std::wstring proxy = TakeGlobal(info.lpszProxy);
    const std::wstring bypass = TakeGlobal(info.lpszProxyBypass);
    choice.named = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.empty();
    if (choice.named) {
        choice.origin = origin;
        choice.proxy = proxy;
        choice.bypass = bypass;
    }
    return true;
}

// Auto-detection that found nothing is not tried again for a while: on a network without
// one it costs a DHCP query and a DNS look-up on every request.
std::atomic<unsigned long long> autoDetectFailedAt{0};
constexpr unsigned long long kAutoDetectRetryMs = 5 * 60 * 1000;

bool AutoDetectFailedRecently() {
    const unsigned long long at = autoDetectFailedAt.load();
    return at != 0 && GetTickCount64() - at < kAutoDetectRetryMs;
}

} // namespace

ProxyChoice ChooseProxy(const std::wstring& url, std::chrono::milliseconds timeout) {
    const IeSettings settings = ReadIeSettings();
    const int timeoutMs = static_cast<int>(timeout.count() > 0 ? timeout.count() : 10000);
    ProxyChoice choice;
    WINHTTP_AUTOPROXY_OPTIONS options{};
    DWORD error = 0;
    // An administrator's script is the more deliberate setting; it goes first where both are
    // set (WinHTTP's own combined search gives up on the script once auto-detection fails
    // under some implementations).
    if (!settings.scriptUrl.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = settings.scriptUrl.c_str();
        if (AskScript(url, options, timeoutMs, ProxyOrigin::Script, choice, error))
            return choice;
        choice.scriptError = error;
        choice.scriptSource = Utf8FromWide(settings.scriptUrl);
    } else if (settings.autoDetect && !AutoDetectFailedRecently()) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        if (AskScript(url, options, timeoutMs, ProxyOrigin::AutoDetect, choice, error))
            return choice;
        autoDetectFailedAt.store(GetTickCount64() | 1);
        // Finding no script is the usual case; one found but not fetched or run is a fault.
        if (error != ERROR_WINHTTP_AUTODETECTION_FAILED) {
            choice.scriptError = error;
            choice.scriptSource = "auto-detection";
        }
    }
    if (!settings.proxy.empty()) {
        choice.named = true;
        choice.origin = ProxyOrigin::Manual;
        choice.proxy = settings.proxy;
        choice.bypass = settings.bypass;
    }
    return choice;
}
