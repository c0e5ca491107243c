#pragma once

// The inside of HttpListener: its state on the I/O thread, the worker pool, and one
// connection's life. Only http_listener.cpp and http_session.cpp include this.

#include "http_listener.h"

#include <boost/asio.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

class HttpSession;

// Threads that run complete requests' handlers.
class WorkerPool {
  public:
    void Start(int count);
    void Post(std::function<void()> job);
    // Waits for the jobs that run; drops those that wait.
    void Stop();

  private:
    void Run();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

struct HttpListener::Impl {
    Impl(HttpLimits limits, HttpListener::Handler handler, HttpListener::Logger logger);

    void Accept();
    void Admit(boost::asio::ip::tcp::socket socket);
    // A connection ends: it no longer counts against its address (group) or the total.
    void Release(const std::string& group);
    // More than half of maxConnections open: kept-alive connections are not kept waiting.
    bool Busy() const;
    void CloseIdle();
    // Stops accepting and ends every connection once its answer in progress has gone out
    // (within a second); Listen returns then.
    void BeginStop();
    bool Unlimited(const std::string& address) const;

    HttpLimits limits;
    const HttpListener::Handler handler;
    const HttpListener::Logger logger;

    // Used on the I/O thread only, and declared before the I/O context so that connections
    // destroyed with it can still give back their counts.
    std::map<std::string, int> perGroup;
    int open = 0;
    std::list<HttpSession*> idle;
    std::list<HttpSession*> sessions;
    bool stopping = false;
    std::atomic<int> openCount{0};

    WorkerPool workers;
    boost::asio::io_context io{1};
    boost::asio::ip::tcp::acceptor acceptor{io};
    boost::asio::steady_timer retryTimer{io};
    boost::asio::steady_timer stopTimer{io};

    std::mutex stateMutex;
    std::condition_variable stopped;
    bool stopRequested = false;
    bool listening = false;
    std::atomic<bool> running{false};
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(HttpListener::Impl& owner, boost::asio::ip::tcp::socket socket, std::string address,
                std::string group);
    ~HttpSession();

    void Start();
    // Closes the connection when it waits for a next request (kept alive) and nothing else.
    void CloseIfIdle();
    // Closes the connection now, or after the answer a handler is working on.
    void StopGently();

  private:
    using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

    void Arm(std::chrono::milliseconds duration);
    void WaitForRequest();
    void ReadRequest(std::chrono::milliseconds deadline);
    void OnHeader(boost::system::error_code ec);
    void ReadBody();
    void Dispatch();
    void Failed(boost::system::error_code ec);
    void Refuse(int status, const std::string& text);
    void Send();
    void SendFilePart();
    void Sent(bool ok);
    void Linger();
    void Drain();
    void Close();
    void LeaveIdle();

    HttpListener::Impl& owner_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer timer_;
    boost::beast::flat_buffer buffer_;
    std::optional<Parser> parser_;
    std::string address_;
    std::string group_;

    HttpRequest request_;
    HttpResponse response_;
    std::string head_;
    std::vector<char> chunk_;
    int fileFd_ = -1;
    std::uint64_t fileSent_ = 0;

    bool timedOut_ = false;
    bool keepAlive_ = false;
    bool closeAfter_ = false;
    bool isHead_ = false;
    bool inIdleList_ = false;
    std::list<HttpSession*>::iterator idleEntry_;
    std::list<HttpSession*>::iterator sessionEntry_;
    bool busy_ = false; // a handler has the request, or its answer is being sent
    int served_ = 0;
    std::size_t drained_ = 0;
};
