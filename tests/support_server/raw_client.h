#pragma once

#include <chrono>
#include <string>

// A plain TCP connection to 127.0.0.1:port from a chosen loopback source address, for
// requests that no well-behaved client library would send.
class RawClient {
  public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // `receiveBuffer` > 0: the socket's receive buffer (SO_RCVBUF), set before connecting, so
    // that what a slow reader leaves unread stays with the server.
    bool Connect(int port, const std::string& from = "127.0.0.1", int receiveBuffer = 0);
    // Closes with a reset (SO_LINGER 0) instead of an orderly end.
    void Reset();
    // False when the connection is gone.
    bool Send(const std::string& data);
    // Sends `header` and then `piece` again and again until the server answers, the
    // connection breaks or `limit` bytes of pieces went out. Returns the bytes of pieces sent.
    std::size_t Flood(const std::string& header, const std::string& piece, std::size_t limit);
    // What arrives until the server closes the connection or `timeout` passes.
    std::string ReadUntilClose(std::chrono::milliseconds timeout);
    // What arrives within `timeout` (at least one read).
    std::string ReadSome(std::chrono::milliseconds timeout);
    // True when the server closed (or reset) the connection within `timeout`.
    bool ClosedWithin(std::chrono::milliseconds timeout);
    bool closedByPeer() const { return closed_; }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
    bool closed_ = false;
};

// "HTTP/1.1 413 ..." -> 413; 0 when `answer` starts otherwise.
int StatusOf(const std::string& answer);
