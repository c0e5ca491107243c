#include "support_server.h"

#include "html.h"
#include "log_text.h"
#include "net_address.h"
#include "pages.h"
#include "report_code.h"
#include "report_limits.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

const char kCookie[] = "quelda_support";
const char kAdmin[] = "admin";
const char kHtml[] = "text/html; charset=utf-8";
const char kText[] = "text/plain; charset=utf-8";
constexpr int kPageSize = 50;
constexpr int kAccessLinesShown = 50;

void SecurityHeaders(HttpResponse& res) {
    res.SetHeader("Content-Security-Policy",
                  "default-src 'none'; style-src 'self'; img-src 'self' data:; "
                  "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    res.SetHeader("X-Content-Type-Options", "nosniff");
    res.SetHeader("Referrer-Policy", "no-referrer");
    res.SetHeader("Cache-Control", "no-store");
}

void SeeOther(HttpResponse& res, const std::string& location) {
    res.status = 303;
    res.SetHeader("Location", location);
}

void Page(HttpResponse& res, int status, const std::string& title, const std::string& body) {
    res.status = status;
    res.SetContent(PageHtml(title, body), kHtml);
}

void Text(HttpResponse& res, int status, const std::string& text) {
    res.status = status;
    res.SetContent(text, kText);
}

std::string CookieValue(const HttpRequest& req, const std::string& name) {
    const std::string header = req.Header("Cookie");
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

std::string BearerToken(const HttpRequest& req) {
    const std::string header = req.Header("Authorization");
    const std::string scheme = "Bearer ";
    return header.compare(0, scheme.size(), scheme) == 0 ? header.substr(scheme.size())
                                                         : std::string();
}

// A URL path or address made safe for a one-line log, cut at 200 bytes.
std::string PrintablePath(const std::string& path) {
    return PrintableForLog(path, 200, true);
}

void TooMany(HttpResponse& res, int retryAfter, const std::string& text) {
    res.SetHeader("Retry-After", std::to_string(retryAfter));
    Text(res, 429, text + "\n");
}

} // namespace

HttpLimits SupportServer::DefaultLimits() {
    HttpLimits limits;
    limits.maxBody = 256 * 1024;
    limits.maxHeaderBytes = 8192;
    limits.maxHeaderLines = 64;
    limits.requestDeadline = std::chrono::seconds(10);
    limits.firstRequestDeadline = std::chrono::seconds(10);
    limits.idleTimeout = std::chrono::seconds(5);
    limits.maxConnections = 512;
    limits.maxPerAddress = 8;
    // Uploads wait for their group's commit in a handler, so there are enough workers for
    // many at once; the store's single writer groups their commits.
    limits.workers = 32;
    return limits;
}

namespace {

HttpLimits WithSettings(HttpLimits limits, const SupportServer::Settings& settings) {
    limits.maxBody = settings.maxBody;
    limits.unlimitedAddresses = settings.proxies;
    return limits;
}

std::vector<std::string> Canonical(std::vector<std::string> addresses) {
    for (std::string& a : addresses) {
        const std::string canonical = CanonicalAddress(a);
        if (!canonical.empty())
            a = canonical;
    }
    return addresses;
}

} // namespace

SupportServer::SupportServer(Settings settings, ReportStore& store, UploadWriter& writer)
    : settings_(std::move(settings)), store_(store), writer_(writer),
      uploads_(settings_.uploadsPerMinute, settings_.uploadsPerNetworkPerMinute),
      wrongTokens_(settings_.wrongTokensPerMinute, settings_.wrongTokensPerNetworkPerMinute),
      log_(settings_.log ? std::make_unique<LogWriter>(settings_.log) : nullptr),
      listener_(
          WithSettings(settings_.limits, settings_),
          [this](const HttpRequest& req, HttpResponse& res) { Handle(req, res); },
          [this](const HttpRequest& req, const HttpResponse& res) { LogRequest(req, res); }) {
    settings_.proxies = Canonical(settings_.proxies);
}

void SupportServer::Handle(const HttpRequest& req, HttpResponse& res) {
    SecurityHeaders(res);
    const std::string& path = req.path;
    const bool get = req.method == "GET" || req.method == "HEAD";
    const bool post = req.method == "POST";
    std::string staff;
    if (post && (path == "/reports" || path == "/envcheck/reports")) {
        Upload(req, res);
    } else if (get && path == "/support/style.css") {
        res.SetContent(StyleSheet(), "text/css; charset=utf-8");
    } else if (get && path == "/support/login") {
        res.SetContent(LoginPage(""), kHtml);
    } else if (post && path == "/support/login") {
        Login(req, res);
    } else if (post && path == "/support/logout") {
        Logout(req, res);
    } else if (get && path == "/support") {
        SeeOther(res, "/support/");
    } else if (get && path == "/support/") {
        if (Authorized(req, res, staff))
            Overview(res);
    } else if (get && path == "/support/reports") {
        if (Authorized(req, res, staff))
            Reports(req, staff, res);
    } else if (get && path == "/support/r") {
        if (Authorized(req, res, staff))
            Lookup(req.QueryParam("code"), res);
    } else if (get && path.rfind("/support/r/", 0) == 0 &&
               path.find('/', std::strlen("/support/r/")) == std::string::npos) {
        if (Authorized(req, res, staff))
            OneReport(path.substr(std::strlen("/support/r/")), staff, res);
    } else {
        res.status = 404;
    }
}

std::string SupportServer::ClientAddress(const HttpRequest& req) const {
    const auto& proxies = settings_.proxies;
    if (std::find(proxies.begin(), proxies.end(), req.remoteAddr) != proxies.end()) {
        const std::string real = CanonicalAddress(req.Header("X-Real-IP"));
        if (!real.empty())
            return real;
    }
    return req.remoteAddr;
}

void SupportServer::Upload(const HttpRequest& req, HttpResponse& res) {
    const std::string address = ClientAddress(req);
    int retryAfter = 0;
    // Counted as connections are (one IPv6 machine holds a whole /64), and by network.
    if (!uploads_.Allow(ConnectionGroup(address), AddressGroup(address), retryAfter)) {
        TooMany(res, retryAfter, "too many uploads from this address; try again later");
        return;
    }
    if (req.body.size() > settings_.maxBody) {
        Text(res, 413, "the report is larger than 256 KiB\n");
        return;
    }
    nlohmann::json parsed;
    std::string reason;
    if (!ParseReportJson(req.body, parsed, reason) || !WithinReportLimits(parsed, reason)) {
        Text(res, 400, reason + "\n");
        return;
    }
    NewReport report;
    report.digest = DigestReport(parsed);
    report.received = std::time(nullptr);
    report.address = address;
    // Only what a report is: members of no meaning would take the storage others need.
    report.body = ShapedReport(std::move(parsed)).dump();
    switch (writer_.Store(report)) {
    case UploadWriter::Outcome::Stored:
        res.status = 201;
        res.SetContent(nlohmann::json{{"code", report.code}}.dump(), "application/json");
        return;
    case UploadWriter::Outcome::OverQuota:
        Text(res, 507, "the server's storage is full; try again later\n");
        return;
    case UploadWriter::Outcome::Failed:
        Text(res, 503, "the report could not be stored\n");
        return;
    }
}

bool SupportServer::Identify(const std::string& token, std::string& staff, std::string& error) {
    staff.clear();
    if (!settings_.token.empty() && SameSecret(token, settings_.token)) {
        staff = kAdmin;
        return true;
    }
    const std::string hash = TokenHash(token);
    if (hash.empty()) {
        error = "SHA-256 failed";
        return false;
    }
    return store_.StaffByTokenHash(hash, staff, error);
}

bool SupportServer::AllowWrongToken(const HttpRequest& req, int& retryAfter) {
    const std::string address = ClientAddress(req);
    return wrongTokens_.Allow(ConnectionGroup(address), AddressGroup(address), retryAfter);
}

bool SupportServer::Authorized(const HttpRequest& req, HttpResponse& res, std::string& staff) {
    std::string error;
    const std::string session = CookieValue(req, kCookie);
    if (!session.empty() && sessions_.Valid(session, staff)) {
        // An account removed meanwhile (by --remove-staff) ends its sessions.
        bool exists = staff == kAdmin;
        if (!exists && !store_.StaffExists(staff, exists, error)) {
            Fault(res, "staff lookup", error);
            return false;
        }
        if (exists)
            return true;
        sessions_.End(session);
    }
    const std::string bearer = BearerToken(req);
    if (bearer.empty()) {
        SeeOther(res, "/support/login");
        return false;
    }
    if (!Identify(bearer, staff, error)) {
        Fault(res, "staff lookup", error);
        return false;
    }
    if (!staff.empty())
        return true; // the right token, whatever wrong tries came before
    int retryAfter = 0;
    if (!AllowWrongToken(req, retryAfter)) {
        TooMany(res, retryAfter, "too many wrong tokens; try again later");
        return false;
    }
    res.SetHeader("WWW-Authenticate", "Bearer");
    Text(res, 401, "wrong token\n");
    return false;
}

void SupportServer::Login(const HttpRequest& req, HttpResponse& res) {
    std::string staff, error;
    if (!Identify(req.FormParam("token"), staff, error)) {
        Fault(res, "staff lookup", error);
        return;
    }
    if (staff.empty()) {
        int retryAfter = 0;
        if (!AllowWrongToken(req, retryAfter)) {
            res.status = 429;
            res.SetHeader("Retry-After", std::to_string(retryAfter));
            res.SetContent(
                LoginPage("输错次数过多，请 " + std::to_string(retryAfter) + " 秒后再试。"), kHtml);
            return;
        }
        res.status = 403;
        res.SetContent(LoginPage("访问令牌不正确。"), kHtml);
        return;
    }
    const std::string session = sessions_.Create(staff);
    if (session.empty()) {
        res.status = 503;
        res.SetContent(LoginPage("暂时无法登录，请稍后再试。"), kHtml);
        return;
    }
    res.SetHeader("Set-Cookie", std::string(kCookie) + "=" + session +
                                    "; Path=/support/; HttpOnly; SameSite=Strict");
    SeeOther(res, "/support/");
}

void SupportServer::Logout(const HttpRequest& req, HttpResponse& res) {
    sessions_.End(CookieValue(req, kCookie));
    res.SetHeader("Set-Cookie",
                  std::string(kCookie) + "=; Path=/support/; HttpOnly; SameSite=Strict; Max-Age=0");
    SeeOther(res, "/support/login");
}

void SupportServer::Overview(HttpResponse& res) {
    const std::int64_t now = std::time(nullptr);
    std::map<std::string, RegionOverview> day, week;
    std::string error;
    if (!store_.Overview(now - 86400, day, error) ||
        !store_.Overview(now - 7 * 86400, week, error)) {
        Fault(res, "overview", error);
        return;
    }
    Page(res, 200, "总览", OverviewPage(day, week));
}

void SupportServer::AccessNotRecorded(HttpResponse& res) {
    LogLine("access line not recorded: the page was not shown");
    Page(res, 503, "暂不可用", "<p class=\"error\">查阅记录无法保存，请稍后再试。</p>\n");
}

void SupportServer::Reports(const HttpRequest& req, const std::string& staff, HttpResponse& res) {
    ReportsQuery q;
    std::string problem;
    q.filter.region = req.QueryParam("region");
    const std::string failed = req.QueryParam("failed");
    for (int i = 0; i < kRowCount; ++i)
        if (failed == report_shape::kItems[i])
            q.filter.failedRow = i;
    if (!failed.empty() && q.filter.failedRow < 0)
        problem = "未通过的项无法识别。";
    q.fromText = req.QueryParam("from");
    q.toText = req.QueryParam("to");
    if (!q.fromText.empty() && !ParseChinaDate(q.fromText, q.filter.from))
        problem = "开始日期应写成 YYYY-MM-DD。";
    if (!q.toText.empty()) {
        if (ParseChinaDate(q.toText, q.filter.to))
            q.filter.to += 86400; // the whole last day
        else
            problem = "结束日期应写成 YYYY-MM-DD。";
    }
    const std::string page = req.QueryParam("page");
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
    std::vector<StoredReport> reports;
    std::string error;
    if (!store_.List(q.filter, kPageSize, q.page * kPageSize, reports, more, error)) {
        Fault(res, "report list", error);
        return;
    }
    // The list shows bidders' addresses: each report shown is an access on record first.
    std::vector<AccessLine> shown;
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    for (const StoredReport& r : reports)
        shown.push_back({r.code, staff, now});
    if (!shown.empty() && !writer_.RecordAccessCommitted(std::move(shown))) {
        AccessNotRecorded(res);
        return;
    }
    Page(res, 200, "最近报告", ReportsPage(q, reports, more));
}

void SupportServer::Lookup(const std::string& typed, HttpResponse& res) {
    const std::string code = NormalizeReportCode(typed);
    if (code.empty()) {
        Page(res, 400, "查报告",
             "<p class=\"error\">“" + Html(typed) +
                 "”不是报告编号：编号是 8 个字母或数字，如 K7QF-3MZP。</p>\n");
        return;
    }
    SeeOther(res, "/support/r/" + code);
}

void SupportServer::OneReport(const std::string& typed, const std::string& staff,
                              HttpResponse& res) {
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
    bool found = false;
    std::string error;
    if (!store_.Find(code, report, found, error)) {
        Fault(res, "report lookup", error);
        return;
    }
    if (!found) {
        Page(res, 404, "查报告",
             "<p class=\"error\">没有编号为 " + Html(DisplayReportCode(code)) + " 的报告。</p>\n");
        return;
    }
    std::vector<AccessLine> earlier;
    if (!store_.AccessLines(code, kAccessLinesShown - 1, earlier, error)) {
        Fault(res, "access lines", error);
        return;
    }
    // The page is shown only once the access is on record.
    AccessLine now{code, staff, static_cast<std::int64_t>(std::time(nullptr))};
    if (!writer_.RecordAccessCommitted({now})) {
        AccessNotRecorded(res);
        return;
    }
    earlier.insert(earlier.begin(), now);
    Page(res, 200, "报告 " + DisplayReportCode(code), ReportPage(report, earlier));
}

void SupportServer::Fault(HttpResponse& res, const std::string& what, const std::string& error) {
    LogLine("database error (" + what + "): " + PrintableForLog(error, 300, false));
    res.headers.erase(std::remove_if(res.headers.begin(), res.headers.end(),
                                     [](const auto& h) { return h.first == "Retry-After"; }),
                      res.headers.end());
    Page(res, 500, "服务器错误",
         "<p class=\"error\">服务器读写数据库出错，请稍后再试或联系管理员。</p>\n");
}

void SupportServer::LogLine(const std::string& line) {
    if (log_)
        log_->Write(line);
}

void SupportServer::LogRequest(const HttpRequest& req, const HttpResponse& res) {
    LogLine(PrintablePath(ClientAddress(req)) + " " + PrintablePath(req.method) + " " +
            PrintablePath(req.path) + " " + std::to_string(res.status) + " " +
            std::to_string(res.BodyLength()) + " bytes");
}
