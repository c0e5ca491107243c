#pragma once

#include "file_store.h"

#include "http_listener.h"
#include "log_writer.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The HTTP side: the GBK document at one path, the installer files under a prefix, 404 for
// everything else, one log line per request ("ADDRESS METHOD PATH STATUS N bytes").
class ConfigServer {
  public:
    struct Settings {
        std::string documentPath = "/envcheck/config.json";
        std::string filesPrefix = "/files/";
        std::optional<FileStore> files; // none: no files are served
        std::FILE* log = stderr;        // null: no request log
        // The proxies in front (canonical addresses): X-Real-IP names the client of their
        // requests, and they are not held to the limits per address. Empty: no proxy.
        std::vector<std::string> proxies;
        HttpLimits limits = DefaultLimits();
    };
    // Requests carry no body worth having: 16 KiB at most; 8 connections per address.
    static HttpLimits DefaultLimits();

    explicit ConfigServer(Settings settings);
    ConfigServer(const ConfigServer&) = delete;
    ConfigServer& operator=(const ConfigServer&) = delete;

    // Binds address:port (port 0: the system chooses). Returns the bound port, or -1.
    int Bind(const std::string& address, int port) { return listener_.Bind(address, port); }
    // The GBK body served at the document path; set before Listen.
    void SetDocument(std::string gbkBody) { document_ = std::move(gbkBody); }
    // The document's minisign signature, served byte for byte at the document's path with
    // ".minisig" appended; set before Listen. Without it that path answers 404.
    void SetSignature(std::string minisig) { signature_ = std::move(minisig); }
    // Serves until Stop; returns false when the server could not run.
    bool Listen() { return listener_.Listen(); }
    // Ends Listen, or makes a later Listen return at once. Callable from any thread but the
    // server's own request handlers; returns when Listen has returned.
    void Stop() { listener_.Stop(); }
    bool IsRunning() const { return listener_.IsRunning(); }

  private:
    void Handle(const HttpRequest& req, HttpResponse& res);
    void ServeFile(const HttpRequest& req, const std::string& relative, HttpResponse& res);
    void LogRequest(const HttpRequest& req, const HttpResponse& res);

    Settings settings_;
    std::string document_;
    std::string signature_;
    std::unique_ptr<LogWriter> log_; // written off the I/O thread
    HttpListener listener_;
};

// A URL path made safe for a one-line log: control characters and backslashes escaped.
std::string PrintablePath(const std::string& path);

// The one range of a "bytes=A-B", "bytes=A-" or "bytes=-N" header within a body of `size`
// bytes. Returns false when the header asks for nothing this server serves as a range (then
// the whole body goes out); `satisfiable` is false for a range that starts past the end.
bool ParseByteRange(const std::string& header, std::uint64_t size, std::uint64_t& first,
                    std::uint64_t& length, bool& satisfiable);
