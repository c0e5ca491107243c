#include "common/text/host_syntax.h"

#include <cctype>

namespace {

bool IsHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

} // namespace

bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.' ||
        host.find("..") != std::string::npos)
        return false;
    for (char c : host)
        if (!IsHostChar(c))
            return false;
    return true;
}

int PortNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int port = std::stoi(digits);
    return port >= 1 && port <= 65535 ? port : 0;
}

std::string SiteHostProblem(const std::string& site) {
    if (site.find("://") != std::string::npos)
        return "must be a host without a scheme (no http://)";
    if (site.find_first_of("/\\?#") != std::string::npos)
        return "must be a host without a path";
    if (site.find('*') != std::string::npos)
        return "must not hold a wildcard";
    const std::string::size_type colon = site.find(':');
    const std::string host = site.substr(0, colon);
    if (!IsHostName(host))
        return "must be a host name of letters, digits, '-' and '.'";
    if (host.find('.') == std::string::npos)
        return "must name a host of at least two labels (such as portal.example.cn), not a "
               "top-level domain";
    if (colon != std::string::npos && PortNumber(site.substr(colon + 1)) == 0)
        return "the port after the host must be a number from 1 to 65535";
    return std::string();
}
