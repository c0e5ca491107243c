#pragma once

#include <string>

struct ServerAddress {
    std::string host;
    int port = 80;
    bool https = false;
};

// Reads a server address: an optional "http://" or "https://", a host name, an IPv4 address
// or a bracketed IPv6 address, and an optional ":port" (1 to 65535; 80 for http and 443 for
// https when absent). Anything else (another scheme, an empty host, a bad port, a path or
// other text after the port) is rejected rather than guessed at.
bool ParseServerAddress(const std::string& text, ServerAddress& out);

// Reads "http://host[:port]/path" or "https://host[:port]/path" (the scheme in lower case,
// as the document's URLs are written): the address and the path from its first "/", "/"
// when the URL ends after the host. False for any other text, line breaks included.
bool ParseServerUrl(const std::string& url, ServerAddress& address, std::string& path);

// "http://host:port" or "https://host:port" (IPv6 in brackets) followed by `path`.
std::string ServerUrlText(const ServerAddress& address, const std::string& path);
