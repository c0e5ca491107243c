#include "http_listener.h"

#include "http_session.h"
#include "net_address.h"

#include <thread>

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// The answer to a connection that is refused at once, before anything is read.
class Refusal : public std::enable_shared_from_this<Refusal> {
  public:
    Refusal(tcp::socket socket, std::string text)
        : socket_(std::move(socket)), timer_(socket_.get_executor()), text_(std::move(text)) {}
    void Send() {
        auto self = shared_from_this();
        timer_.expires_after(std::chrono::seconds(1));
        timer_.async_wait([self](boost::system::error_code ec) {
            if (!ec)
                self->socket_.cancel();
        });
        asio::async_write(socket_, asio::buffer(text_), [self](boost::system::error_code, size_t) {
            boost::system::error_code ignored;
            self->socket_.shutdown(tcp::socket::shutdown_both, ignored);
            self->socket_.close(ignored);
            self->timer_.cancel();
        });
    }

  private:
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::string text_;
};

int CountOf(const std::map<std::string, int>& counts, const std::string& key) {
    const auto it = counts.find(key);
    return it == counts.end() ? 0 : it->second;
}

void Forget(std::map<std::string, int>& counts, const std::string& key) {
    auto it = counts.find(key);
    if (it != counts.end() && --it->second <= 0)
        counts.erase(it);
}

std::string RefusalText(int status, const char* reason, const std::string& text) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           std::to_string(text.size()) + "\r\nRetry-After: 1\r\nConnection: close\r\n\r\n" + text;
}

} // namespace

void WorkerPool::Start(int count) {
    stopping_ = false;
    for (int i = 0; i < count; ++i)
        threads_.emplace_back([this] { Run(); });
}

void WorkerPool::Post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkerPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
    threads_.clear();
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropped.swap(jobs_);
    }
}

void WorkerPool::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr; // released outside the lock
        lock.lock();
    }
}

HttpListener::Impl::Impl(HttpLimits l, HttpListener::Handler h, HttpListener::Logger g)
    : limits(std::move(l)), handler(std::move(h)), logger(std::move(g)) {
    for (std::string& address : limits.unlimitedAddresses) {
        const std::string canonical = CanonicalAddress(address);
        if (!canonical.empty())
            address = canonical;
    }
}

bool HttpListener::Impl::Unlimited(const std::string& address) const {
    for (const std::string& a : limits.unlimitedAddresses)
        if (a == address)
            return true;
    return false;
}

void HttpListener::Impl::Accept() {
    acceptor.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or similar: wait a moment rather than spin.
            retryTimer.expires_after(std::chrono::milliseconds(50));
            retryTimer.async_wait([this](boost::system::error_code e) {
                if (!e)
                    Accept();
            });
            return;
        }
        Admit(std::move(socket));
        Accept();
    });
}

void HttpListener::Impl::Admit(tcp::socket socket) {
    boost::system::error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return;
    const std::string address = CanonicalPeerAddress(peer.address().to_string());
    const std::string group = ConnectionGroup(address);
    const std::string network = ConnectionNetwork(address);
    const bool counted = !Unlimited(address);
    socket.set_option(tcp::no_delay(true), ec);
    if (limits.sendBuffer > 0)
        socket.set_option(asio::socket_base::send_buffer_size(limits.sendBuffer), ec);

    if (open >= limits.maxConnections / 2)
        CloseIdle();
    auto refuse = [&](int status, const char* reason, const char* text) {
        if (logger) {
            HttpRequest request;
            request.method = "-";
            request.remoteAddr = address;
            HttpResponse response;
            response.status = status;
            response.body = text;
            logger(request, response);
        }
        std::make_shared<Refusal>(std::move(socket), RefusalText(status, reason, text))->Send();
    };
    const int holds = counted ? CountOf(perGroup, group) : 0;
    if (counted && holds >= limits.maxPerAddress) {
        refuse(429, "Too Many Requests", "too many connections from this address\n");
        return;
    }
    if (counted && CountOf(perNetwork, network) >= limits.maxPerNetwork) {
        refuse(429, "Too Many Requests", "too many connections from this network\n");
        return;
    }
    if (open >= limits.maxConnections && !MakeRoom(holds)) {
        refuse(503, "Service Unavailable", "the server is busy; try again\n");
        return;
    }
    ++open;
    openCount = open;
    if (counted) {
        ++perGroup[group];
        ++perNetwork[network];
    }
    std::make_shared<HttpSession>(*this, std::move(socket), address, counted ? group : "",
                                  counted ? network : "")
        ->Start();
}

bool HttpListener::Impl::MakeRoom(int newcomerHolds) {
    std::string largest;
    int most = newcomerHolds;
    for (const auto& [group, count] : perGroup)
        if (count > most) {
            most = count;
            largest = group;
        }
    if (largest.empty())
        return false;
    for (HttpSession* session : sessions) // oldest first
        if (session->counted() && session->group() == largest) {
            session->Evict();
            return true;
        }
    return false;
}

void HttpListener::Impl::Release(const std::string& group, const std::string& network) {
    --open;
    openCount = open;
    if (stopping && open == 0 && !ended)
        stopTimer.cancel();
    if (group.empty())
        return;
    Forget(perGroup, group);
    Forget(perNetwork, network);
}

void HttpListener::Impl::BeginStop() {
    stopping = true;
    boost::system::error_code ignored;
    acceptor.close(ignored);
    retryTimer.cancel();
    if (open == 0) {
        io.stop();
        return;
    }
    std::vector<HttpSession*> all(sessions.begin(), sessions.end());
    for (HttpSession* session : all)
        session->StopGently();
    stopTimer.expires_after(limits.stopGrace);
    stopTimer.async_wait([this](boost::system::error_code ec) {
        if (!ec)
            io.stop();
    });
}

void HttpListener::Impl::Finish() {
    boost::system::error_code ignored;
    acceptor.close(ignored);
    retryTimer.cancel();
    stopTimer.cancel();
    std::vector<HttpSession*> left(sessions.begin(), sessions.end());
    for (HttpSession* session : left)
        session->Close();
    // Their cancelled operations complete at once; what they hold is released here.
    io.restart();
    io.poll();
    ended = true;
}

bool HttpListener::Impl::Busy() const {
    return open > limits.maxConnections / 2;
}

void HttpListener::Impl::CloseIdle() {
    std::vector<HttpSession*> sessions(idle.begin(), idle.end());
    for (HttpSession* session : sessions)
        session->CloseIfIdle();
}

HttpListener::HttpListener(HttpLimits limits, Handler handler, Logger logger)
    : impl_(std::make_unique<Impl>(std::move(limits), std::move(handler), std::move(logger))) {}

HttpListener::~HttpListener() {
    Stop();
}

int HttpListener::Bind(const std::string& address, int port) {
    boost::system::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec || port < 0 || port > 65535)
        return -1;
    tcp::acceptor& acceptor = impl_->acceptor;
    const tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec && ip.is_v6() && ip.to_v6().is_unspecified())
        acceptor.set_option(asio::ip::v6_only(false), ec); // "::" takes IPv4 clients too
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(512, ec);
    if (ec) {
        boost::system::error_code ignored;
        acceptor.close(ignored);
        return -1;
    }
    return acceptor.local_endpoint().port();
}

bool HttpListener::Listen() {
    Impl& impl = *impl_;
    {
        std::lock_guard<std::mutex> lock(impl.stateMutex);
        if (impl.stopRequested)
            return true;
        if (!impl.acceptor.is_open())
            return false;
        impl.listening = true;
    }
    impl.workers.Start(std::max(1, impl.limits.workers));
    impl.Accept();
    impl.running = true;
    impl.io.run();
    impl.running = false;
    impl.workers.Stop();
    impl.Finish();
    {
        std::lock_guard<std::mutex> lock(impl.stateMutex);
        impl.listening = false;
    }
    impl.stopped.notify_all();
    return true;
}

void HttpListener::Stop() {
    Impl& impl = *impl_;
    std::unique_lock<std::mutex> lock(impl.stateMutex);
    if (!impl.stopRequested && impl.listening)
        asio::post(impl.io, [&impl] { impl.BeginStop(); });
    impl.stopRequested = true;
    impl.stopped.wait(lock, [&impl] { return !impl.listening; });
}

bool HttpListener::IsRunning() const {
    return impl_->running;
}

int HttpListener::OpenConnections() const {
    return impl_->openCount;
}
