#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>

// Owns an httplib::Server and makes Stop reliable: the library's own stop is lost when it comes
// before the listen loop has started.
class HttpListener {
  public:
    HttpListener() : server_(std::make_unique<httplib::Server>()) {}
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // For routes and settings; set them before Listen.
    httplib::Server& Server() { return *server_; }

    // Binds address:port (port 0: the system chooses). Returns the bound port, or -1.
    int Bind(const std::string& address, int port);
    // Serves until Stop; returns false when the server could not run.
    bool Listen();
    // Ends Listen, or makes a later Listen return at once. Callable from any thread but the
    // server's own request handlers; returns when Listen has returned.
    void Stop();
    bool IsRunning() const { return server_->is_running(); }

  private:
    std::unique_ptr<httplib::Server> server_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> listening_{false};
};
