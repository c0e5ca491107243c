#pragma once

// Which proxy a request goes through, from the logged-on user's own settings: an automatic
// configuration script, auto-detection, or a manual proxy with its bypass list.

#include <chrono>
#include <string>

// Where a named proxy came from.
enum class ProxyOrigin { None, Manual, Script, AutoDetect };

struct ProxyChoice {
    bool named = false; // through the proxy list below; otherwise straight to the server
    ProxyOrigin origin = ProxyOrigin::None;
    std::wstring proxy;  // WinHttpOpen's proxy list ("host:port", "http=a:1;https=b:2", ...)
    std::wstring bypass; // hosts reached directly ("<local>", "*.example.org", ...)
    // The script or auto-detection that failed before this choice fell back on the manual
    // proxy or on going direct: its ERROR_WINHTTP_* code, and what it was.
    unsigned long scriptError = 0;
    std::string scriptSource;
};

// The choice for one URL ("https://host:port/path"). Never fails: when the script cannot
// be fetched or run it falls back, as browsers do, on the manual proxy, then on going direct.
// `timeout` bounds the fetch of a script.
ProxyChoice ChooseProxy(const std::wstring& url, std::chrono::milliseconds timeout);
