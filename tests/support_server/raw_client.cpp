#include "raw_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

RawClient::~RawClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawClient::Connect(int port, const std::string& from, int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return false;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
}

void RawClient::Reset() {
    if (fd_ < 0)
        return;
    const linger now{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    ::close(fd_);
    fd_ = -1;
    closed_ = true;
}

bool RawClient::Send(const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::size_t RawClient::Flood(const std::string& header, const std::string& piece,
                             std::size_t limit) {
    if (!Send(header))
        return 0;
    std::size_t sent = 0;
    while (sent < limit) {
        pollfd p{fd_, POLLIN | POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        if (p.revents & (POLLIN | POLLERR | POLLHUP))
            break; // an answer, or the end
        const ssize_t n = ::send(fd_, piece.data(), piece.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    return sent;
}

std::string RawClient::ReadSome(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return {};
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        closed_ = true;
        return {};
    }
    return std::string(buffer, static_cast<size_t>(n));
}

std::string RawClient::ReadUntilClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string all;
    while (!closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        all += ReadSome(left);
    }
    return all;
}

bool RawClient::ClosedWithin(std::chrono::milliseconds timeout) {
    ReadUntilClose(timeout);
    return closed_;
}

int StatusOf(const std::string& answer) {
    if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || answer.size() < 12)
        return 0;
    return std::atoi(answer.substr(9, 3).c_str());
}
