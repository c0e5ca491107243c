#pragma once

#include <filesystem>
#include <string>

namespace testnet {

// nginx serving a folder of static files on 127.0.0.1 and a free port, as the production
// web server of an operator would: started by the test itself, with its own configuration,
// logs and temporary folders under `prefix`, no root rights needed and no system service.
class NginxServer {
  public:
    NginxServer() = default;
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // The port is chosen before, so that a document that names it can be written first.
    static int FreePort();
    // False with a message when nginx does not answer within a few seconds.
    bool Start(const std::filesystem::path& root, const std::filesystem::path& prefix, int port,
               std::string& error);
    void Stop();
    std::string ipPort() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    int pid_ = -1;
    int port_ = 0;
};

} // namespace testnet
