#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testnet {

// One request as the server saw it.
struct RequestRecord {
    std::string method;
    std::string path;
    int status = 0;
    std::string range;   // the Range header, if any
    std::string ifRange; // the If-Range header, if any
    std::string body;    // the request's body (POST)
    std::string contentType;
};

// A body whose connection breaks: the first `drops` responses (all of them with -1) end
// after `dropAfter` bytes of the body. With `ranges`, Range requests are answered with 206
// when their If-Range matches the ETag. After the first drop the body may change to
// `changedBody` with `changedEtag`. With `chunked` no answer announces its length.
struct FlakyBody {
    std::string body;
    std::size_t dropAfter = 0;
    int drops = 1;
    bool ranges = true;
    std::string etag = "\"v1\"";
    std::string changedBody;
    std::string changedEtag;
    bool chunked = false;
    // A server that lies: with a status, every matching Range request gets that status,
    // this Content-Range (none when empty) and the body's bytes from the range's start to
    // `lieEnd`, a complete answer.
    int lieStatus = 0;
    std::string lieContentRange;
    std::size_t lieEnd = 0;
};

// A real HTTP server on 127.0.0.1 with a port chosen by the system, for tests and
// benchmarks. Routes can be added or replaced while it runs; a path without a route
// answers 404. GET and POST get the same answer. Every request is recorded.
class TestServer {
  public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // "127.0.0.1:<port>", the form of the ipPort setting.
    std::string ipPort() const;
    // "http://127.0.0.1:<port>" followed by the path (which starts with '/').
    std::string Url(const std::string& path) const;

    // The UTF-8 text converted to GBK, as the configuration server sends its document.
    void ServeGbk(const std::string& path, const std::string& utf8Text, int status = 200);
    // The bytes as they are.
    void ServeBytes(const std::string& path, std::string body, int status = 200,
                    const std::string& contentType = "application/octet-stream");
    // Only a status (and an empty body).
    void ServeStatus(const std::string& path, int status);
    // A file read from disk while it is sent (never loaded whole); its content is read
    // at request time, so the file may change between requests.
    void ServeFile(const std::string& path, const std::filesystem::path& file);
    // Every regular file of the folder (not recursive) at prefix + "/" + file name.
    void ServeDir(const std::string& prefix, const std::filesystem::path& dir);
    // `size` bytes made on the fly (a repeating pattern, see GeneratedByte), never held
    // in memory whole.
    void ServeGenerated(const std::string& path, std::uint64_t size);
    // Announces the whole body's length but closes the connection after `sentBytes`.
    void ServeTruncated(const std::string& path, std::string body, std::size_t sentBytes);
    void ServeFlaky(const std::string& path, FlakyBody flaky);
    // One byte every `interval`, `size` bytes in all.
    void ServeTrickle(const std::string& path, std::size_t size,
                      std::chrono::milliseconds interval);
    void Remove(const std::string& path);

    std::vector<RequestRecord> Requests() const;
    std::size_t RequestCount(const std::string& path) const;
    void ClearRequests();

    void Stop();

    // Byte i of a ServeGenerated body.
    static char GeneratedByte(std::uint64_t i);
    // A port on 127.0.0.1 where nothing listens (bound once, then released).
    static int UnusedPort();

  private:
    struct Route;
    void Set(const std::string& path, std::shared_ptr<const Route> route);
    std::shared_ptr<const Route> Find(const std::string& path) const;

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const Route>> routes_;
    std::vector<RequestRecord> requests_;
};

} // namespace testnet
