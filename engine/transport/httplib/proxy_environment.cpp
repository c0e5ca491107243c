#include "engine/transport/httplib/proxy_environment.h"

#include "common/text/ascii.h"

#include <cctype>
#include <cstdlib>

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = ascii::ToLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "[http://][user[:password]@]host[:port][/]"
void ParseProxy(const std::string& value, ProxySetting& proxy) {
    std::string rest = ascii::Trim(value);
    const auto scheme = rest.find("://");
    if (scheme != std::string::npos) {
        const std::string name = ascii::Lower(rest.substr(0, scheme));
        if (name != "http") {
            proxy.error = "proxy scheme '" + name + "' is not supported (only http://)";
            return;
        }
        rest.erase(0, scheme + 3);
    }
    const auto slash = rest.find('/');
    if (slash != std::string::npos)
        rest.erase(slash);
    const auto at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = rest.substr(0, at);
        rest.erase(0, at + 1);
        const auto colon = credentials.find(':');
        proxy.user = PercentDecoded(credentials.substr(0, colon));
        if (colon != std::string::npos)
            proxy.password = PercentDecoded(credentials.substr(colon + 1));
    }
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) {
            proxy.error = "proxy address without its closing bracket";
            return;
        }
        proxy.host = rest.substr(1, close - 1);
        rest.erase(0, close + 1);
        if (!rest.empty() && rest[0] == ':')
            portText = rest.substr(1);
        else if (!rest.empty()) {
            proxy.error = "text after the proxy's address";
            return;
        }
    } else {
        const auto colon = rest.find(':');
        proxy.host = rest.substr(0, colon);
        if (colon != std::string::npos)
            portText = rest.substr(colon + 1);
    }
    if (proxy.host.empty()) {
        proxy.error = "proxy setting without a host";
        return;
    }
    if (!portText.empty()) {
        long port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || port > 65535) {
                port = -1;
                break;
            }
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) {
            proxy.error = "proxy port '" + portText + "' is not a port";
            return;
        }
        proxy.port = static_cast<int>(port);
    }
    proxy.use = true;
}
} // namespace

bool NoProxyCovers(const std::string& noProxy, const std::string& rawHost) {
    std::string host = ascii::Lower(rawHost);
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    std::size_t start = 0;
    while (start <= noProxy.size()) {
        std::size_t end = noProxy.find_first_of(", ", start);
        if (end == std::string::npos)
            end = noProxy.size();
        std::string entry = ascii::Lower(ascii::Trim(noProxy.substr(start, end - start)));
        start = end + 1;
        if (entry.empty())
            continue;
        if (entry == "*")
            return true;
        if (entry.front() == '[' && entry.back() == ']')
            entry = entry.substr(1, entry.size() - 2);
        while (!entry.empty() && entry.front() == '.')
            entry.erase(0, 1);
        if (!entry.empty() && entry.back() == '.')
            entry.pop_back();
        if (entry.empty())
            continue;
        if (host == entry)
            return true;
        if (host.size() > entry.size() &&
            host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
            host[host.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

ProxySetting ProxyFor(bool https, const std::string& host, const EnvironmentLookup& lookup) {
    ProxySetting proxy;
    std::string noProxy = lookup("no_proxy");
    if (noProxy.empty())
        noProxy = lookup("NO_PROXY");
    if (NoProxyCovers(noProxy, host))
        return proxy;
    // An upper-case HTTP_PROXY is not read: a CGI program gets it from a request's header.
    const char* const names[] = {https ? "https_proxy" : "http_proxy",
                                 https ? "HTTPS_PROXY" : nullptr, "all_proxy", "ALL_PROXY"};
    for (const char* name : names) {
        if (!name)
            continue;
        const std::string value = ascii::Trim(lookup(name));
        if (value.empty())
            continue;
        proxy.variable = name;
        ParseProxy(value, proxy);
        return proxy;
    }
    return proxy;
}

ProxySetting ProxyFromEnvironment(bool https, const std::string& host) {
    return ProxyFor(https, host, [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::string(value) : std::string();
    });
}
