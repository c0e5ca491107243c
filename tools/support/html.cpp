#include "html.h"

#include "engine/region_table.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr std::int64_t kChinaOffset = 8 * 3600;

} // namespace

std::string Html(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

std::string UrlEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string ChinaTime(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds + kChinaOffset);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

bool ParseChinaDate(const std::string& text, std::int64_t& unixSeconds) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 ||
        y < 1970 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    unixSeconds = static_cast<std::int64_t>(timegm(&tm)) - kChinaOffset;
    return true;
}

std::string RegionLabel(const std::string& region) {
    const int index = RegionIndexOf(region);
    return index < 0 ? region : kRegions[index].label;
}

std::string PageHtml(const std::string& title, const std::string& body, bool withNav) {
    std::string page = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<title>" +
                       Html(title) +
                       " - 技术支持</title>"
                       "<link rel=\"stylesheet\" href=\"/support/style.css\"></head><body>\n";
    if (withNav)
        page += "<nav><a href=\"/support/\">总览</a> <a href=\"/support/reports\">最近报告</a> "
                "<form method=\"get\" action=\"/support/r\" class=\"lookup\">"
                "<input name=\"code\" placeholder=\"报告编号\" aria-label=\"报告编号\" "
                "autocomplete=\"off\"> <button type=\"submit\">查报告</button></form> "
                "<form method=\"post\" action=\"/support/logout\" class=\"logout\">"
                "<button type=\"submit\">退出</button></form></nav>\n";
    page += "<main><h1>" + Html(title) + "</h1>\n" + body + "</main></body></html>\n";
    return page;
}

const std::string& StyleSheet() {
    static const std::string css =
        R"(body { font-family: "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; margin: 0; color: #222; }
nav { background: #1f4e8c; padding: 8px 16px; }
nav a { color: #fff; margin-right: 16px; text-decoration: none; }
nav form { display: inline; }
nav .logout { float: right; }
main { padding: 8px 16px; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { border: 1px solid #ccc; padding: 3px 8px; text-align: left; vertical-align: top; }
th { background: #eef2f8; }
td.value { font-family: monospace; white-space: pre-wrap; word-break: break-all; max-width: 40em; }
.dot { display: inline-block; width: 12px; height: 12px; border-radius: 6px; margin-right: 6px; }
.ok { background: #2e9d3a; }
.fault { background: #d33; }
.none { background: #999; }
.row { margin: 12px 0; }
.row h2 { font-size: 16px; margin: 4px 0; }
.error { color: #b00; }
.region { margin-bottom: 24px; }
.filters label { margin-right: 12px; }
.pager a { margin-right: 16px; }
)";
    return css;
}
