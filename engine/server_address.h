#pragma once

#include <string>

struct ServerAddress {
    std::string host;
    int port = 80;
};

// Reads a plain-HTTP server address: an optional "http://", a host name, an IPv4 address
// or a bracketed IPv6 address, and an optional ":port" (1 to 65535). Anything else (another
// scheme, an empty host, a bad port, a path or other text after the port) is rejected,
// because the HTTP client would either throw or quietly take the rest as a host name.
bool ParseServerAddress(const std::string& text, ServerAddress& out);
