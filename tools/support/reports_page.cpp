#include "html.h"
#include "pages.h"
#include "report_code.h"

#include "engine/region_table.h"
#include "engine/row_texts.h"

namespace {

std::string Selected(bool yes) {
    return yes ? " selected" : "";
}

std::string FilterForm(const ReportsQuery& q) {
    std::string f = "<form method=\"get\" action=\"/support/reports\" class=\"filters\">"
                    "<label>地区 <select name=\"region\"><option value=\"\">全部</option>";
    bool known = q.filter.region.empty();
    for (const RegionEntry& region : kRegions) {
        const std::string r = region.key;
        known = known || q.filter.region == r;
        f += "<option value=\"" + r + "\"" + Selected(q.filter.region == r) + ">" +
             Html(region.label) + "</option>";
    }
    if (!known)
        f += "<option value=\"" + Html(q.filter.region) + "\" selected>" + Html(q.filter.region) +
             "</option>";
    f += "</select></label><label>未通过的项 <select name=\"failed\"><option "
         "value=\"\">不限</option>";
    for (int i = 0; i < kRowCount; ++i)
        f += std::string("<option value=\"") + report_shape::kItems[i] + "\"" +
             Selected(q.filter.failedRow == i) + ">" + Html(RowName(i)) + "</option>";
    f += "</select></label><label>从 <input type=\"date\" name=\"from\" value=\"" +
         Html(q.fromText) + "\"></label><label>到 <input type=\"date\" name=\"to\" value=\"" +
         Html(q.toText) + "\"></label><button type=\"submit\">筛选</button></form>\n";
    return f;
}

std::string QueryFor(const ReportsQuery& q, int page) {
    std::string s = "/support/reports?region=" + UrlEncode(q.filter.region) + "&failed=" +
                    (q.filter.failedRow >= 0 ? report_shape::kItems[q.filter.failedRow] : "") +
                    "&from=" + UrlEncode(q.fromText) + "&to=" + UrlEncode(q.toText) +
                    "&page=" + std::to_string(page);
    return Html(s);
}

std::string FailedText(int failedRows) {
    if (failedRows == 0)
        return "<span class=\"dot ok\"></span>无";
    std::string s = "<span class=\"dot fault\"></span>";
    for (int i = 0; i < kRowCount; ++i)
        if (failedRows & (1 << i))
            s += Html(RowName(i)) + " ";
    return s;
}

} // namespace

std::string ReportsPage(const ReportsQuery& q, const std::vector<StoredReport>& reports,
                        bool more) {
    std::string b = FilterForm(q);
    if (reports.empty())
        return b + "<p>没有符合条件的报告。</p>\n";
    b += "<table class=\"reports\"><tr><th>报告编号</th><th>收到时间</th><th>地区</th>"
         "<th>工具版本</th><th>未通过的项</th><th>上传地址</th></tr>\n";
    for (const StoredReport& r : reports)
        b += "<tr><td><a href=\"/support/r/" + Html(r.code) + "\">" +
             Html(DisplayReportCode(r.code)) + "</a></td><td>" + Html(ChinaTime(r.received)) +
             "</td><td>" + Html(RegionLabel(r.region)) + "</td><td>" + Html(r.toolVersion) +
             "</td><td>" + FailedText(r.failedRows) + "</td><td>" + Html(r.address) +
             "</td></tr>\n";
    b += "</table>\n<p class=\"pager\">";
    if (q.page > 0)
        b += "<a href=\"" + QueryFor(q, q.page - 1) + "\">上一页</a>";
    b += "第 " + std::to_string(q.page + 1) + " 页";
    if (more)
        b += " <a href=\"" + QueryFor(q, q.page + 1) + "\">下一页</a>";
    return b + "</p>\n";
}
