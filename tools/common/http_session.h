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
    // A connection ends: it no longer counts against its address (group), its network or the
    // total.
    void Release(const std::string& group, const std::string& network);
    // All connections taken: closes the oldest connection of the address that holds the most,
    // when that is more than `newcomerHolds`. False when there is no such address.
    bool MakeRoom(int newcomerHolds);
    // More than half of maxConnections open: kept-alive connections are not kept waiting.
    bool Busy() const;
    void CloseIdle();
    // Stops accepting and ends every connection once its answer in progress has gone out
    // (within limits.stopGrace); Listen returns then.
    void BeginStop();
    // After the I/O loop and the workers have ended: closes the connections left and runs
    // their endings on this thread, so that none is left to end inside the I/O context's
    // destructor.
    void Finish();
    bool Unlimited(const std::string& address) const;

    HttpLimits limits;
    const HttpListener::Handler handler;
    const HttpListener::Logger logger;

    // Used on the I/O thread only, and declared before the I/O context so that connections
    // destroyed with it can still give back their counts.
    std::map<std::string, int> perGroup;
    std::map<std::string, int> perNetwork;
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

    // Set once the I/O loop has ended for good: the timers below are no longer touched.
    bool ended = false;

    std::mutex stateMutex;
    std::condition_variable stopped;
    bool stopRequested = false;
    bool listening = false;
    std::atomic<bool> running{false};
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    // `group` and `network` are empty for a connection that counts against no limit.
    HttpSession(HttpListener::Impl& owner, boost::asio::ip::tcp::socket socket, std::string address,
                std::string group, std::string network);
    ~HttpSession();

    void Start();
    // Closes the connection when it waits for a next request (kept alive) and nothing else.
    void CloseIfIdle();
    // Closes the connection now, or after the answer a handler is working on.
    void StopGently();
    // Closes the connection now to make room for another; it no longer counts from here on,
    // even while a handler still works on its request.
    void Evict();
    // Closes the connection now, whatever it does.
    void Close();
    const std::string& group() const { return group_; }
    bool counted() const { return !released_ && !group_.empty(); }

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
    // Writes what is left of the head and the body's next piece, as much as the socket takes.
    void WriteMore();
    void Advance(std::size_t written);
    // Arms the timer for the moment the answer falls behind minSendRate; `Paced` checks then.
    void ArmPace();
    void Paced();
    std::chrono::steady_clock::time_point PaceDeadline();
    void Sent(bool ok);
    void Linger();
    void Drain();
    void LeaveIdle();
    void ReleaseCounts();

    HttpListener::Impl& owner_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer timer_;
    boost::beast::flat_buffer buffer_;
    std::optional<Parser> parser_;
    std::string address_;
    std::string group_;
    std::string network_;
    bool released_ = false;

    HttpRequest request_;
    HttpResponse response_;
    std::string head_;
    std::vector<char> chunk_;
    std::vector<boost::asio::const_buffer> out_;
    int fileFd_ = -1;
    std::uint64_t fileSent_ = 0; // of the file: read into chunk_ and written
    std::size_t chunkUsed_ = 0;  // of chunk_: written
    std::size_t chunkSize_ = 0;  // of chunk_: read from the file
    std::size_t headSent_ = 0;
    std::size_t bodySent_ = 0;  // of an answer from memory
    std::uint64_t written_ = 0; // of this answer, handed to the socket
    std::chrono::steady_clock::time_point sendStart_;

    bool timedOut_ = false;
    bool abort_ = false; // closed with a reset: the client is cut off, not answered
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
