#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace testnet {

// A server on 127.0.0.1 that answers every connection with the same bytes, written as
// they are (status line, headers, body: whatever the test makes up), and then closes it:
// for answers that no proper HTTP server would send.
class LyingServer {
  public:
    explicit LyingServer(std::string answer);
    ~LyingServer();
    LyingServer(const LyingServer&) = delete;
    LyingServer& operator=(const LyingServer&) = delete;

    int port() const { return port_; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int connections() const { return connections_; }

  private:
    std::string answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace testnet
