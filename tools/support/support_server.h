#pragma once

#include "access.h"
#include "http_listener.h"
#include "log_writer.h"
#include "rate_limiter.h"
#include "report_store.h"
#include "upload_writer.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The HTTP side: report uploads at /reports and /envcheck/reports, the staff pages under
// /support/, 404 for everything else, one log line per request.
class SupportServer {
  public:
    struct Settings {
        std::string token; // the token of the account "admin" (the token file)
        // Per client address (IPv6: its /64) and per network (IPv4: its /24): one office or
        // provider network shares its budget, larger than one address's.
        int uploadsPerMinute = 30;
        int uploadsPerNetworkPerMinute = 240;
        int wrongTokensPerMinute = 10;
        int wrongTokensPerNetworkPerMinute = 40;
        size_t maxBody = 256 * 1024;
        // The proxies in front: X-Real-IP is believed from these peers only, and they are not
        // held to the connections-per-address limit. Empty: no proxy.
        std::vector<std::string> proxies;
        std::FILE* log = stderr; // null: no request log
        HttpLimits limits = DefaultLimits();
    };
    // 8 connections per address, 512 in all, 10 s for a whole request, 32 workers.
    static HttpLimits DefaultLimits();

    SupportServer(Settings settings, ReportStore& store, UploadWriter& writer);
    SupportServer(const SupportServer&) = delete;
    SupportServer& operator=(const SupportServer&) = delete;

    // Binds address:port (port 0: the system chooses). Returns the bound port, or -1.
    int Bind(const std::string& address, int port) { return listener_.Bind(address, port); }
    // Serves until Stop; returns false when the server could not run.
    bool Listen() { return listener_.Listen(); }
    // Ends Listen, or makes a later Listen return at once; returns when Listen has returned.
    void Stop() { listener_.Stop(); }
    int OpenConnections() const { return listener_.OpenConnections(); }

  private:
    void Handle(const HttpRequest& req, HttpResponse& res);
    void Upload(const HttpRequest& req, HttpResponse& res);
    void Login(const HttpRequest& req, HttpResponse& res);
    void Logout(const HttpRequest& req, HttpResponse& res);
    void Overview(HttpResponse& res);
    void Reports(const HttpRequest& req, const std::string& staff, HttpResponse& res);
    // 503 and a log line: a page that shows reports is not sent without its access lines.
    void AccessNotRecorded(HttpResponse& res);
    void Lookup(const std::string& typed, HttpResponse& res);
    void OneReport(const std::string& typed, const std::string& staff, HttpResponse& res);

    // True when the request carries a valid session or token; `staff` is then who it is.
    // Otherwise the response is already set (to the login page, 401, 429 or 500).
    bool Authorized(const HttpRequest& req, HttpResponse& res, std::string& staff);
    // Counts a wrong token of the request's client; false when it is over its limit.
    bool AllowWrongToken(const HttpRequest& req, int& retryAfter);
    // The account a token belongs to; empty when none. False when the store fails.
    bool Identify(const std::string& token, std::string& staff, std::string& error);
    // A store failure: 500, and a line in the log.
    void Fault(HttpResponse& res, const std::string& what, const std::string& error);
    std::string ClientAddress(const HttpRequest& req) const;
    void LogRequest(const HttpRequest& req, const HttpResponse& res);
    void LogLine(const std::string& line);

    Settings settings_;
    ReportStore& store_;
    UploadWriter& writer_;
    RateLimiter uploads_;
    RateLimiter wrongTokens_;
    Sessions sessions_;
    std::unique_ptr<LogWriter> log_; // written off the I/O thread
    HttpListener listener_;
};
