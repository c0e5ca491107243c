#pragma once

// What scripts/test-windows starts on the loopback for the WinHTTP transport's tests, named
// by environment variables, and the user's Internet Settings the tests change.

#include "engine/transport/transport.h"

#include <string>

struct TestServers {
    int tls = 0;            // nginx: the test CA's certificate for localhost
    int wrongName = 0;      // nginx: the test CA's certificate for another name
    int untrusted = 0;      // nginx: a self-signed certificate for localhost
    int plain = 0;          // nginx over plain HTTP: the scripts
    int liar = 0;           // tests/winhttp/lying_server.py, plain HTTP
    int liarTls = 0;        // the same over TLS (the test CA's certificate for localhost)
    int proxy = 0;          // tinyproxy, logging every request
    int closed = 0;         // a port nothing listens on
    std::string proxyLog;   // tinyproxy's log (a Windows path)
    long long fileSize = 0; // /installer.bin on nginx
    std::string missing;    // the variables that were not set
};

// The servers, or `missing` naming what the script did not provide.
const TestServers& Servers();

// The bytes of /installer.bin: byte i is i % 251.
bool IsInstallerPattern(const std::string& body, long long offset = 0);

// The proxy settings of the current user (HKCU\...\Internet Settings), removed again at
// the end of the scope.
class UserProxySettings {
  public:
    UserProxySettings() = default;
    ~UserProxySettings();
    UserProxySettings(const UserProxySettings&) = delete;
    UserProxySettings& operator=(const UserProxySettings&) = delete;

    void Manual(const std::string& server, const std::string& bypass = std::string());
    void Script(const std::string& url);
    static void Clear();
};

// The number of lines of the proxy's log that hold `text`.
int ProxyLogCount(const std::string& text);
// Waits up to 2 s for the proxy to log `count` lines holding `text`.
bool ProxyLogReaches(const std::string& text, int count);

struct Fetched {
    bool ok = false;
    TransportFailure failure;
    int status = 0;
    int responses = 0; // calls of onResponse
    TransportResponse response;
    std::string body;
};

Fetched Fetch(const std::string& method, bool https, const std::string& host, int port,
              const std::string& path, std::chrono::milliseconds deadline = {},
              const std::string& body = std::string());
// A GET on a connection of its own ("Connection: close"): Wine keeps one pool of connections
// across sessions, so a request could otherwise go through the tunnel an earlier test opened,
// and the proxy would log no CONNECT for it.
Fetched FetchOwnConnection(bool https, const std::string& host, int port, const std::string& path);

const char* ErrorName(TransportError error);
