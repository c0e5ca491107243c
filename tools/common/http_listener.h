#pragma once

#include "http_message.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What one client may make the server hold. Every request is read whole, within these
// bounds, before a handler sees it; a request past a bound is answered (413, 431, 408) and its
// connection closed.
struct HttpLimits {
    std::size_t maxBody = 16 * 1024; // bytes, whether sent with a length, chunked or until close
    std::uint32_t maxHeaderBytes = 8192;                   // request line and header lines together
    std::size_t maxHeaderLines = 64;                       // header lines
    std::chrono::milliseconds requestDeadline{10000};      // the whole request, from its first byte
    std::chrono::milliseconds firstRequestDeadline{10000}; // a new connection's first request
    std::chrono::milliseconds idleTimeout{5000}; // a kept-alive connection between requests
    // An answer must go out at minSendRate bytes a second after a start of sendTimeout: by
    // then + N / minSendRate the client must have taken its first N bytes, so that the whole
    // answer has a deadline of sendTimeout + size / minSendRate. What counts is what the
    // client has acknowledged, not what waits in the socket's buffers.
    std::chrono::milliseconds sendTimeout{30000};
    std::uint64_t minSendRate = 8 * 1024;
    // Each connection's socket send buffer (SO_SNDBUF; 0: the system's own, which grows to
    // megabytes): what a slow reader of a large file makes the system hold for it.
    int sendBuffer = 256 * 1024;
    // Connections open at once. When all are taken, a newcomer from an address that holds
    // fewer than the address holding the most takes the place of that address's oldest
    // connection; otherwise it is answered 503.
    int maxConnections = 512;
    // Connections of one client address (IPv6: of its /64) at once; more are answered 429
    // and closed.
    int maxPerAddress = 8;
    // Connections of one network (IPv4: its /24, IPv6: its /48) at once; more are answered
    // 429 and closed.
    int maxPerNetwork = 64;
    // Peers exempt from maxPerAddress and maxPerNetwork: a proxy in front, which itself limits
    // per client.
    std::vector<std::string> unlimitedAddresses;
    // At a stop, how long the answers in progress (a handler's, one being sent) may take
    // before their connections are cut: long enough for a handler that waits for a commit.
    std::chrono::milliseconds stopGrace{10000};
    int maxRequestsPerConnection = 100;
    int workers = 8; // threads that run the handlers
};

// An HTTP/1.1 server on Boost.Beast: one thread reads and writes every connection
// asynchronously, so slow clients cost memory within the limits above but no thread; the
// handler runs on a pool of workers once a request is complete.
class HttpListener {
  public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Called once per answer, after it has been sent (or has failed), also for the answers
    // the listener gives by itself (then the request may hold only the peer's address).
    using Logger = std::function<void(const HttpRequest&, const HttpResponse&)>;

    HttpListener(HttpLimits limits, Handler handler, Logger logger = nullptr);
    ~HttpListener();
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // Binds address:port (port 0: the system chooses). Returns the bound port, or -1.
    int Bind(const std::string& address, int port);
    // Serves until Stop; returns false when the server could not run.
    bool Listen();
    // Ends Listen, or makes a later Listen return at once. Callable from any thread but the
    // handlers; returns when Listen has returned.
    void Stop();
    bool IsRunning() const;

    // Connections open now (for tests and benchmarks).
    int OpenConnections() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};
