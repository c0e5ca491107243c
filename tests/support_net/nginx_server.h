#pragma once

#include <filesystem>
#include <string>

namespace testnet {

// A certificate and its key (PEM files) for nginx to serve HTTPS with.
struct NginxTls {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

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
    // False with a message when nginx does not answer within a few seconds. With `tls` it
    // speaks HTTPS (TLS 1.2 and 1.3) with that certificate.
    bool Start(const std::filesystem::path& root, const std::filesystem::path& prefix, int port,
               std::string& error, const NginxTls* tls = nullptr);
    void Stop();
    std::string ipPort() const { return "127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }

  private:
    int pid_ = -1;
    int port_ = 0;
};

} // namespace testnet
