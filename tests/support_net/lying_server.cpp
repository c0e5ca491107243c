#ifndef _WIN32
#include "lying_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testnet {

LyingServer::LyingServer(std::string answer) : answer_(std::move(answer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0)
                continue;
            ++connections_;
            // The request's head, up to its empty line (a POST's body is not waited for).
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                pollfd c{client, POLLIN, 0};
                if (::poll(&c, 1, 2000) <= 0)
                    break;
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            std::size_t sent = 0;
            while (sent < answer_.size()) {
                const ssize_t n =
                    ::send(client, answer_.data() + sent, answer_.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
    });
}

LyingServer::~LyingServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

} // namespace testnet
#endif
