#include "test_server.h"

#include "probes/textconv.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testnet {

namespace {
constexpr std::uint64_t kPatternPeriod = 251; // prime, so chunks never line up with it
constexpr std::size_t kChunk = 64 * 1024;

const std::string& PatternBuffer() {
    static const std::string buffer = [] {
        std::string b(kChunk + kPatternPeriod, '\0');
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = TestServer::GeneratedByte(i);
        return b;
    }();
    return buffer;
}
} // namespace

struct TestServer::Route {
    enum class Kind { Bytes, File, Generated, Truncated, Flaky, Trickle } kind = Kind::Bytes;
    int status = 200;
    std::string body;
    std::string contentType = "application/octet-stream";
    fs::path file;
    std::uint64_t size = 0;
    std::size_t sentBytes = 0;
    FlakyBody flaky;
    std::shared_ptr<std::atomic<int>> served = std::make_shared<std::atomic<int>>(0);
    std::chrono::milliseconds interval{0};
};

namespace {
// The flaky route: see FlakyBody.
void ServeFlakyResponse(const FlakyBody& f, int index, const httplib::Request& req,
                        httplib::Response& res) {
    const bool changed = !f.changedBody.empty() && index >= 1;
    auto body = std::make_shared<std::string>(changed ? f.changedBody : f.body);
    const std::string etag = changed ? f.changedEtag : f.etag;
    if (f.ranges)
        res.set_header("Accept-Ranges", "bytes");
    if (!etag.empty())
        res.set_header("ETag", etag);
    const bool partial = f.ranges && req.ranges.size() == 1 && !etag.empty() &&
                         req.get_header_value("If-Range") == etag;
    // The library cuts the body to the request's ranges whatever the status; a whole
    // body must not be cut.
    if (!partial)
        const_cast<httplib::Request&>(req).ranges.clear();
    const std::size_t start =
        partial ? static_cast<std::size_t>(std::max<ssize_t>(req.ranges[0].first, 0)) : 0;
    const bool drop = f.drops < 0 || index < f.drops;
    std::size_t stop = drop ? start + f.dropAfter : body->size();
    res.status = partial ? 206 : 200;
    if (partial && f.lieStatus != 0) {
        const_cast<httplib::Request&>(req).ranges.clear(); // the headers are all ours
        res.status = f.lieStatus;
        if (!f.lieContentRange.empty())
            res.set_header("Content-Range", f.lieContentRange);
        stop = std::max(start, std::min(f.lieEnd, body->size()));
        if (!f.chunked) {
            res.set_content(body->substr(start, stop - start), "application/octet-stream");
            return;
        }
    }
    if (f.chunked) {
        // The library leaves ranges of a chunked answer to it; offsets count from the
        // first byte sent.
        if (partial && f.lieStatus == 0) {
            const_cast<httplib::Request&>(req).ranges.clear();
            res.set_header("Content-Range", "bytes " + std::to_string(start) + "-" +
                                                std::to_string(body->size() - 1) + "/" +
                                                std::to_string(body->size()));
        }
        res.set_chunked_content_provider(
            "application/octet-stream",
            [body, start, stop, drop](std::size_t offset, httplib::DataSink& sink) {
                const std::size_t at = start + offset;
                if (at >= stop) {
                    if (drop)
                        return false; // drops the connection mid-body
                    sink.done();
                    return true;
                }
                return sink.write(body->data() + at, std::min<std::size_t>(4096, stop - at));
            });
        return;
    }
    res.set_content_provider(
        body->size(), "application/octet-stream",
        [body, stop](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset >= stop)
                return false; // drops the connection mid-body
            return sink.write(body->data() + offset, std::min(length, stop - offset));
        });
}
} // namespace

TestServer::TestServer() : server_(std::make_unique<httplib::Server>()) {
    const auto answer = [this](const httplib::Request& req, httplib::Response& res) {
        std::shared_ptr<const Route> route = Find(req.path);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({req.method, req.path, route ? route->status : 404,
                                 req.get_header_value("Range"), req.get_header_value("If-Range"),
                                 req.body, req.get_header_value("Content-Type")});
        }
        if (!route) {
            res.status = 404;
            return;
        }
        res.status = route->status;
        switch (route->kind) {
        case Route::Kind::Bytes:
            res.set_content(route->body, route->contentType.c_str());
            break;
        case Route::Kind::File: {
            auto in = std::make_shared<std::ifstream>(route->file, std::ios::binary);
            std::error_code ec;
            const auto size = fs::file_size(route->file, ec);
            if (!*in || ec) {
                res.status = 404;
                return;
            }
            res.set_content_provider(
                static_cast<std::size_t>(size), route->contentType,
                [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    std::string buf(std::min(length, kChunk), '\0');
                    in->seekg(static_cast<std::streamoff>(offset));
                    in->read(buf.data(), static_cast<std::streamsize>(buf.size()));
                    const auto got = static_cast<std::size_t>(in->gcount());
                    if (got == 0)
                        return false;
                    return sink.write(buf.data(), got);
                });
            break;
        }
        case Route::Kind::Generated:
            res.set_content_provider(
                static_cast<std::size_t>(route->size), route->contentType,
                [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::size_t n = std::min(length, kChunk);
                    return sink.write(PatternBuffer().data() + offset % kPatternPeriod, n);
                });
            break;
        case Route::Kind::Truncated: {
            const std::string body = route->body;
            const std::size_t sent = route->sentBytes;
            res.set_content_provider(
                body.size(), route->contentType,
                [body, sent](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (offset >= sent)
                        return false; // drops the connection mid-body
                    const std::size_t n = std::min(length, sent - offset);
                    return sink.write(body.data() + offset, n);
                });
            break;
        }
        case Route::Kind::Flaky:
            ServeFlakyResponse(route->flaky, route->served->fetch_add(1), req, res);
            break;
        case Route::Kind::Trickle: {
            const auto interval = route->interval;
            res.set_content_provider(static_cast<std::size_t>(route->size), route->contentType,
                                     [interval](std::size_t, std::size_t, httplib::DataSink& sink) {
                                         std::this_thread::sleep_for(interval);
                                         return sink.write("t", 1);
                                     });
            break;
        }
        }
    };
    server_->Get(".*", answer);
    server_->Post(".*", answer); // the same routes: a POST gets what a GET would
    port_ = server_->bind_to_any_port("127.0.0.1");
    // The socket already listens: clients can connect before the accept loop runs.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only acts on a running accept loop; wait for it so that Stop never hangs.
    while (port_ > 0 && !server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer() {
    Stop();
}

void TestServer::Stop() {
    if (server_)
        server_->stop();
    if (thread_.joinable())
        thread_.join();
}

std::string TestServer::ipPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string TestServer::Url(const std::string& path) const {
    return "http://" + ipPort() + path;
}

void TestServer::Set(const std::string& path, std::shared_ptr<const Route> route) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(route);
}

std::shared_ptr<const TestServer::Route> TestServer::Find(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = routes_.find(path);
    return it == routes_.end() ? nullptr : it->second;
}

void TestServer::ServeGbk(const std::string& path, const std::string& utf8Text, int status) {
    ServeBytes(path, Utf8ToGbk(utf8Text), status, "application/json; charset=GBK");
}

void TestServer::ServeBytes(const std::string& path, std::string body, int status,
                            const std::string& contentType) {
    auto r = std::make_shared<Route>();
    r->status = status;
    r->body = std::move(body);
    r->contentType = contentType;
    Set(path, std::move(r));
}

void TestServer::ServeStatus(const std::string& path, int status) {
    ServeBytes(path, std::string(), status, "text/plain");
}

void TestServer::ServeFile(const std::string& path, const fs::path& file) {
    auto r = std::make_shared<Route>();
    r->kind = Route::Kind::File;
    r->file = file;
    Set(path, std::move(r));
}

void TestServer::ServeDir(const std::string& prefix, const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file())
            ServeFile(prefix + "/" + entry.path().filename().string(), entry.path());
}

void TestServer::ServeGenerated(const std::string& path, std::uint64_t size) {
    auto r = std::make_shared<Route>();
    r->kind = Route::Kind::Generated;
    r->size = size;
    Set(path, std::move(r));
}

void TestServer::ServeTruncated(const std::string& path, std::string body, std::size_t sentBytes) {
    auto r = std::make_shared<Route>();
    r->kind = Route::Kind::Truncated;
    r->body = std::move(body);
    r->sentBytes = std::min(sentBytes, r->body.size());
    Set(path, std::move(r));
}

void TestServer::ServeFlaky(const std::string& path, FlakyBody flaky) {
    auto r = std::make_shared<Route>();
    r->kind = Route::Kind::Flaky;
    r->flaky = std::move(flaky);
    Set(path, std::move(r));
}

void TestServer::ServeTrickle(const std::string& path, std::size_t size,
                              std::chrono::milliseconds interval) {
    auto r = std::make_shared<Route>();
    r->kind = Route::Kind::Trickle;
    r->size = size;
    r->interval = interval;
    Set(path, std::move(r));
}

void TestServer::Remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_.erase(path);
}

std::vector<RequestRecord> TestServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t TestServer::RequestCount(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(requests_.begin(), requests_.end(),
                      [&](const RequestRecord& r) { return r.path == path; }));
}

void TestServer::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

char TestServer::GeneratedByte(std::uint64_t i) {
    return static_cast<char>('a' + i % kPatternPeriod % 26);
}

int TestServer::UnusedPort() {
#ifdef _WIN32
    return 1; // tcpmux: nothing listens there on a test machine
#else
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
#endif
}

} // namespace testnet
