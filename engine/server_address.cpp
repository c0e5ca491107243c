#include "engine/server_address.h"

#include <cctype>

namespace {
bool IsHostChar(unsigned char c) {
    if (c <= 0x20 || c == 0x7f)
        return false;
    switch (c) {
    case ':':
    case '/':
    case '?':
    case '#':
    case '@':
    case '[':
    case ']':
    case '\\':
        return false;
    default:
        return true;
    }
}

bool ParsePort(const std::string& digits, int& port) {
    if (digits.empty() || digits.size() > 5)
        return false;
    long value = 0;
    for (unsigned char c : digits) {
        if (!std::isdigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}
} // namespace

bool ParseServerAddress(const std::string& text, ServerAddress& out) {
    std::string rest = text;
    bool https = false;
    const auto scheme = rest.find("://");
    if (scheme != std::string::npos) {
        const std::string name = rest.substr(0, scheme);
        if (name != "http" && name != "https")
            return false;
        https = name == "https";
        rest.erase(0, scheme + 3);
    }
    std::string host;
    std::size_t pos = 0;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close == 1)
            return false;
        host = rest.substr(1, close - 1);
        for (unsigned char c : host)
            if (!std::isxdigit(c) && c != ':' && c != '.')
                return false;
        pos = close + 1;
    } else {
        while (pos < rest.size() && IsHostChar(static_cast<unsigned char>(rest[pos])))
            ++pos;
        host = rest.substr(0, pos);
        if (host.empty())
            return false;
    }
    int port = https ? 443 : 80;
    if (pos < rest.size()) {
        if (rest[pos] != ':' || !ParsePort(rest.substr(pos + 1), port))
            return false;
    }
    out.host = host;
    out.port = port;
    out.https = https;
    return true;
}

bool ParseServerUrl(const std::string& url, ServerAddress& address, std::string& path) {
    const bool https = url.compare(0, 8, "https://") == 0;
    if (!https && url.compare(0, 7, "http://") != 0)
        return false;
    if (url.find_first_of("\r\n") != std::string::npos)
        return false;
    const std::size_t hostBegin = https ? 8 : 7;
    const std::size_t slash = url.find('/', hostBegin);
    const std::string server = url.substr(0, slash);
    ServerAddress parsed;
    if (!ParseServerAddress(server, parsed))
        return false;
    address = parsed;
    path = slash == std::string::npos ? "/" : url.substr(slash);
    return true;
}

std::string ServerUrlText(const ServerAddress& address, const std::string& path) {
    const bool v6 = address.host.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + address.host + "]" : address.host;
    return std::string(address.https ? "https://" : "http://") + host + ":" +
           std::to_string(address.port) + path;
}
