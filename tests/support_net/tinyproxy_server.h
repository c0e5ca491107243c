#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testnet {

// Debian's tinyproxy on 127.0.0.1 and a free port, started by the test with its own
// configuration and log under `prefix`, and stopped by it.
class TinyproxyServer {
  public:
    struct Options {
        // Ports that CONNECT may reach; empty: every port.
        std::vector<int> connectPorts;
        // With a user: every request must carry these credentials (Basic), else 407.
        std::string user;
        std::string password;
    };

    TinyproxyServer() = default;
    ~TinyproxyServer();
    TinyproxyServer(const TinyproxyServer&) = delete;
    TinyproxyServer& operator=(const TinyproxyServer&) = delete;

    bool Start(const std::filesystem::path& prefix, const Options& options, std::string& error);
    void Stop();
    int port() const { return port_; }
    // "http://127.0.0.1:<port>", the form of the proxy variables.
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // What the proxy has logged so far (one line per connection and request).
    std::string Log() const;

  private:
    int pid_ = -1;
    int port_ = 0;
    std::filesystem::path log_;
};

// True when something accepts TCP connections on 127.0.0.1:port.
bool LoopbackPortAnswers(int port);

} // namespace testnet
