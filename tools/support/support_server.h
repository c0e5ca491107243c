#pragma once

#include "access.h"
#include "http_listener.h"
#include "rate_limiter.h"
#include "report_store.h"
#include "upload_writer.h"

#include <httplib.h>

#include <cstdio>
#include <mutex>
#include <string>

// The HTTP side: report uploads at /reports and /envcheck/reports, the staff pages under
// /support/, 404 for everything else, one log line per request.
class SupportServer {
  public:
    struct Settings {
        std::string token;             // the staff token
        int uploadsPerMinute = 30;     // per client address
        int wrongTokensPerMinute = 10; // per client address
        size_t maxBody = 256 * 1024;
        bool behindProxy = false; // take X-Real-IP from a proxy on the loopback address
        std::FILE* log = stderr;  // null: no request log
    };

    SupportServer(Settings settings, ReportStore& store, UploadWriter& writer);
    SupportServer(const SupportServer&) = delete;
    SupportServer& operator=(const SupportServer&) = delete;

    // Binds address:port (port 0: the system chooses). Returns the bound port, or -1.
    int Bind(const std::string& address, int port) { return listener_.Bind(address, port); }
    // Serves until Stop; returns false when the server could not run.
    bool Listen() { return listener_.Listen(); }
    // Ends Listen, or makes a later Listen return at once; returns when Listen has returned.
    void Stop() { listener_.Stop(); }

  private:
    void Upload(const httplib::Request& req, httplib::Response& res);
    void LoginForm(const httplib::Request& req, httplib::Response& res);
    void Login(const httplib::Request& req, httplib::Response& res);
    void Logout(const httplib::Request& req, httplib::Response& res);
    void Overview(httplib::Response& res);
    void Reports(const httplib::Request& req, httplib::Response& res);
    void Lookup(const std::string& typed, httplib::Response& res);
    void OneReport(const std::string& typed, httplib::Response& res);

    // True when the request carries a valid session or bearer token; otherwise the response
    // is already set (to the login page, 401 or 429).
    bool Authorized(const httplib::Request& req, httplib::Response& res);
    std::string ClientAddress(const httplib::Request& req) const;
    void LogRequest(const httplib::Request& req, const httplib::Response& res);

    Settings settings_;
    ReportStore& store_;
    UploadWriter& writer_;
    RateLimiter uploads_;
    RateLimiter wrongTokens_;
    Sessions sessions_;
    HttpListener listener_;
    std::mutex logMutex_;
};
