#include "http_listener.h"

#include <chrono>
#include <thread>

int HttpListener::Bind(const std::string& address, int port) {
    if (port == 0)
        return server_->bind_to_any_port(address);
    return server_->bind_to_port(address, port) ? port : -1;
}

bool HttpListener::Listen() {
    listening_ = true;
    bool ok = stopRequested_ ? true : server_->listen_after_bind();
    listening_ = false;
    return ok;
}

void HttpListener::Stop() {
    // The library's stop is lost when it comes before the listen loop has started, so it is
    // repeated until Listen has returned.
    stopRequested_ = true;
    while (listening_) {
        server_->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
