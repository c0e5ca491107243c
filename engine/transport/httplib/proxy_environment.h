#pragma once

#include <functional>
#include <string>

// The proxy of one request, chosen from the environment as curl chooses it: `no_proxy` (or
// NO_PROXY) first, then `http_proxy` for http (lower case only, as curl reads it) and
// `https_proxy` or HTTPS_PROXY for https, then `all_proxy` or ALL_PROXY.
struct ProxySetting {
    bool use = false;
    std::string host; // without brackets for IPv6
    int port = 1080;  // curl's default when the setting names none
    std::string user; // percent-decoded
    std::string password;
    std::string variable; // which variable named it, for the log
    std::string error;    // a setting that names no usable proxy (another scheme, a bad port)
};

using EnvironmentLookup = std::function<std::string(const char* name)>;

ProxySetting ProxyFor(bool https, const std::string& host, const EnvironmentLookup& lookup);
ProxySetting ProxyFromEnvironment(bool https, const std::string& host);

// True when `host` is one that the no_proxy list names: "*", the host itself, or a domain
// it is in ("example.com" and ".example.com" both cover "a.example.com"), without regard to
// case; addresses only as they are written.
bool NoProxyCovers(const std::string& noProxy, const std::string& host);
