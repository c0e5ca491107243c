#include "support_server.h"
#include "log_text.h"

#include "html.h"
#include "pages.h"
#include "report_code.h"

#include <ctime>

namespace {

const char kCookie[] = "quelda_support";
const char kHtml[] = "text/html; charset=utf-8";
const char kText[] = "text/plain; charset=utf-8";
constexpr int kPageSize = 50;

void SecurityHeaders(httplib::Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; style-src 'self'; img-src 'self' data:; "
                   "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
}

void SeeOther(httplib::Response& res, const std::string& location) {
    res.status = 303;
    res.set_header("Location", location);
}

void Page(httplib::Response& res, int status, const std::string& title, const std::string& body) {
    res.status = status;
    res.set_content(PageHtml(title, body), kHtml);
}

std::string CookieValue(const httplib::Request& req, const std::string& name) {
    const std::string header = req.get_header_value("Cookie");
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string part = header.substr(pos, end - pos);
        size_t first = part.find_first_not_of(' ');
        if (first != std::string::npos)
            part.erase(0, first);
        if (part.compare(0, name.size() + 1, name + "=") == 0)
            return part.substr(name.size() + 1);
        pos = end + 1;
    }
    return {};
}

std::string BearerToken(const httplib::Request& req) {
    const std::string header = req.get_header_value("Authorization");
    const std::string scheme = "Bearer ";
    return header.compare(0, scheme.size(), scheme) == 0 ? header.substr(scheme.size())
                                                         : std::string();
}

// A URL path or address made safe for a one-line log, cut at 200 bytes.
std::string PrintablePath(const std::string& path) {
    return PrintableForLog(path, 200, true);
}

void TooMany(httplib::Response& res, int retryAfter, const std::string& text) {
    res.status = 429;
    res.set_header("Retry-After", std::to_string(retryAfter));
    res.set_content(text + "\n", kText);
}

} // namespace

SupportServer::SupportServer(Settings settings, ReportStore& store, UploadWriter& writer)
    : settings_(std::move(settings)), store_(store), writer_(writer),
      uploads_(settings_.uploadsPerMinute), wrongTokens_(settings_.wrongTokensPerMinute) {
    using httplib::Request;
    using httplib::Response;
    httplib::Server& s = listener_.Server();
    // Enough workers for many clients on kept-alive connections at once; the store's single
    // writer groups their commits.
    s.new_task_queue = [] { return new httplib::ThreadPool(32); };
    s.set_keep_alive_max_count(100);
    s.set_tcp_nodelay(true); // headers and body go out as two writes: no wait between them
    s.set_payload_max_length(settings_.maxBody);
    s.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    s.set_pre_routing_handler([](const Request&, Response& res) {
        SecurityHeaders(res);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_logger([this](const Request& req, const Response& res) { LogRequest(req, res); });

    auto upload = [this](const Request& req, Response& res) { Upload(req, res); };
    s.Post("/reports", upload);
    s.Post("/envcheck/reports", upload);
    s.Get("/support/style.css", [](const Request&, Response& res) {
        res.set_content(StyleSheet(), "text/css; charset=utf-8");
    });
    s.Get("/support/login", [this](const Request& req, Response& res) { LoginForm(req, res); });
    s.Post("/support/login", [this](const Request& req, Response& res) { Login(req, res); });
    s.Post("/support/logout", [this](const Request& req, Response& res) { Logout(req, res); });
    s.Get("/support", [](const Request&, Response& res) { SeeOther(res, "/support/"); });
    s.Get("/support/", [this](const Request& req, Response& res) {
        if (Authorized(req, res))
            Overview(res);
    });
    s.Get("/support/reports", [this](const Request& req, Response& res) {
        if (Authorized(req, res))
            Reports(req, res);
    });
    s.Get("/support/r", [this](const Request& req, Response& res) {
        if (Authorized(req, res))
            Lookup(req.get_param_value("code"), res);
    });
    s.Get(R"(/support/r/([^/]*))", [this](const Request& req, Response& res) {
        if (Authorized(req, res))
            OneReport(req.matches[1].str(), res);
    });
}

std::string SupportServer::ClientAddress(const httplib::Request& req) const {
    if (settings_.behindProxy && (req.remote_addr == "127.0.0.1" || req.remote_addr == "::1")) {
        std::string real = req.get_header_value("X-Real-IP");
        if (!real.empty() && real.size() <= 64)
            return real;
    }
    return req.remote_addr;
}

void SupportServer::Upload(const httplib::Request& req, httplib::Response& res) {
    const std::string address = ClientAddress(req);
    int retryAfter = 0;
    if (!uploads_.Allow(address, retryAfter)) {
        TooMany(res, retryAfter, "too many uploads from this address; try again later");
        return;
    }
    if (req.body.size() > settings_.maxBody) {
        res.status = 413;
        res.set_content("the report is larger than 256 KiB\n", kText);
        return;
    }
    NewReport report;
    nlohmann::json parsed;
    std::string reason;
    if (!ParseReportJson(req.body, parsed, reason)) {
        res.status = 400;
        res.set_content(reason + "\n", kText);
        return;
    }
    report.digest = DigestReport(parsed);
    report.received = std::time(nullptr);
    report.address = address;
    report.body = req.body;
    if (!writer_.Store(report)) {
        res.status = 503;
        res.set_content("the report could not be stored\n", kText);
        return;
    }
    res.status = 201;
    res.set_content(nlohmann::json{{"code", report.code}}.dump(), "application/json");
}

bool SupportServer::Authorized(const httplib::Request& req, httplib::Response& res) {
    const std::string session = CookieValue(req, kCookie);
    if (!session.empty() && sessions_.Valid(session))
        return true;
    const std::string bearer = BearerToken(req);
    if (bearer.empty()) {
        SeeOther(res, "/support/login");
        return false;
    }
    const std::string address = ClientAddress(req);
    int retryAfter = 0;
    if (!wrongTokens_.WouldAllow(address, retryAfter)) {
        TooMany(res, retryAfter, "too many wrong tokens; try again later");
        return false;
    }
    if (SameSecret(bearer, settings_.token))
        return true;
    wrongTokens_.Allow(address, retryAfter);
    res.status = 401;
    res.set_header("WWW-Authenticate", "Bearer");
    res.set_content("wrong token\n", kText);
    return false;
}

void SupportServer::LoginForm(const httplib::Request&, httplib::Response& res) {
    res.set_content(LoginPage(""), kHtml);
}

void SupportServer::Login(const httplib::Request& req, httplib::Response& res) {
    const std::string address = ClientAddress(req);
    int retryAfter = 0;
    if (!wrongTokens_.WouldAllow(address, retryAfter)) {
        res.status = 429;
        res.set_header("Retry-After", std::to_string(retryAfter));
        res.set_content(LoginPage("输错次数过多，请 " + std::to_string(retryAfter) + " 秒后再试。"),
                        kHtml);
        return;
    }
    if (!SameSecret(req.get_param_value("token"), settings_.token)) {
        wrongTokens_.Allow(address, retryAfter);
        res.status = 403;
        res.set_content(LoginPage("访问令牌不正确。"), kHtml);
        return;
    }
    const std::string session = sessions_.Create();
    if (session.empty()) {
        res.status = 503;
        res.set_content(LoginPage("暂时无法登录，请稍后再试。"), kHtml);
        return;
    }
    res.set_header("Set-Cookie", std::string(kCookie) + "=" + session +
                                     "; Path=/support/; HttpOnly; SameSite=Strict");
    SeeOther(res, "/support/");
}

void SupportServer::Logout(const httplib::Request& req, httplib::Response& res) {
    sessions_.End(CookieValue(req, kCookie));
    res.set_header("Set-Cookie", std::string(kCookie) +
                                     "=; Path=/support/; HttpOnly; SameSite=Strict; Max-Age=0");
    SeeOther(res, "/support/login");
}

void SupportServer::Overview(httplib::Response& res) {
    const std::int64_t now = std::time(nullptr);
    Page(res, 200, "总览",
         OverviewPage(store_.Overview(now - 86400), store_.Overview(now - 7 * 86400)));
}

void SupportServer::Reports(const httplib::Request& req, httplib::Response& res) {
    ReportsQuery q;
    std::string problem;
    q.filter.region = req.get_param_value("region");
    const std::string failed = req.get_param_value("failed");
    for (int i = 0; i < kRowCount; ++i)
        if (failed == report_shape::kItems[i])
            q.filter.failedRow = i;
    if (!failed.empty() && q.filter.failedRow < 0)
        problem = "未通过的项无法识别。";
    q.fromText = req.get_param_value("from");
    q.toText = req.get_param_value("to");
    if (!q.fromText.empty() && !ParseChinaDate(q.fromText, q.filter.from))
        problem = "开始日期应写成 YYYY-MM-DD。";
    if (!q.toText.empty()) {
        if (ParseChinaDate(q.toText, q.filter.to))
            q.filter.to += 86400; // the whole last day
        else
            problem = "结束日期应写成 YYYY-MM-DD。";
    }
    const std::string page = req.get_param_value("page");
    if (!page.empty()) {
        if (page.size() > 6 || page.find_first_not_of("0123456789") != std::string::npos)
            problem = "页码无法识别。";
        else
            q.page = std::stoi(page);
    }
    if (!problem.empty()) {
        Page(res, 400, "最近报告", "<p class=\"error\">" + Html(problem) + "</p>\n");
        return;
    }
    bool more = false;
    std::vector<StoredReport> reports = store_.List(q.filter, kPageSize, q.page * kPageSize, more);
    Page(res, 200, "最近报告", ReportsPage(q, reports, more));
}

void SupportServer::Lookup(const std::string& typed, httplib::Response& res) {
    const std::string code = NormalizeReportCode(typed);
    if (code.empty()) {
        Page(res, 400, "查报告",
             "<p class=\"error\">“" + Html(typed) +
                 "”不是报告编号：编号是 8 个字母或数字，如 K7QF-3MZP。</p>\n");
        return;
    }
    SeeOther(res, "/support/r/" + code);
}

void SupportServer::OneReport(const std::string& typed, httplib::Response& res) {
    const std::string code = NormalizeReportCode(typed);
    if (code.empty()) {
        Lookup(typed, res);
        return;
    }
    if (code != typed) {
        SeeOther(res, "/support/r/" + code);
        return;
    }
    StoredReport report;
    if (!store_.Find(code, report)) {
        Page(res, 404, "查报告",
             "<p class=\"error\">没有编号为 " + Html(DisplayReportCode(code)) + " 的报告。</p>\n");
        return;
    }
    Page(res, 200, "报告 " + DisplayReportCode(code), ReportPage(report));
}

void SupportServer::LogRequest(const httplib::Request& req, const httplib::Response& res) {
    if (!settings_.log)
        return;
    std::lock_guard<std::mutex> lock(logMutex_);
    std::fprintf(settings_.log, "%s %s %s %d %zu bytes\n",
                 PrintablePath(ClientAddress(req)).c_str(), req.method.c_str(),
                 PrintablePath(req.path).c_str(), res.status, res.body.size());
    std::fflush(settings_.log);
}
