#include "html.h"
#include "pages.h"
#include "report_code.h"

#include "engine/row_texts.h"

namespace rs = report_shape;
using nlohmann::json;

namespace {

std::string Value(const json& v) {
    if (v.is_null())
        return "<span class=\"none-value\">（无）</span>";
    return Html(v.is_string() ? v.get<std::string>() : v.dump());
}

std::string FactsTable(const json& facts) {
    if (facts.empty())
        return {};
    std::string t = "<table class=\"facts\"><tr><th>项目</th><th>位置</th><th>应为</th>"
                    "<th>实际</th><th>结果</th><th>说明</th></tr>\n";
    for (const json& f : facts) {
        t += "<tr><td>" + Html(f[rs::kName].get<std::string>());
        if (f[rs::kEntry].is_number_integer())
            t += " [" + std::to_string(f[rs::kEntry].get<long long>()) + "]";
        t += "</td><td class=\"value\">" + Value(f[rs::kWhere]) + "</td><td class=\"value\">" +
             Value(f[rs::kExpected]) + "</td><td class=\"value\">" + Value(f[rs::kFound]) +
             "</td><td>" + (f[rs::kOk].get<bool>() ? "通过" : "<span class=\"error\">不符</span>") +
             "</td><td class=\"value\">" + Html(f[rs::kNote].get<std::string>()) + "</td></tr>\n";
    }
    return t + "</table>\n";
}

std::string SystemLines(const json& report) {
    auto system = report.find(rs::kSystem);
    if (system == report.end())
        return {};
    std::string s;
    const std::pair<const char*, const char*> members[] = {{rs::kBuild, "Windows 版本号"},
                                                           {rs::kEdition, "Windows 版本"},
                                                           {rs::kBits, "位数"},
                                                           {rs::kIeRetired, "IE 已停用"},
                                                           {rs::kEdge, "Edge 版本"}};
    for (const auto& [member, label] : members) {
        auto it = system->find(member);
        if (it != system->end())
            s += std::string("<tr><th>") + label + "</th><td class=\"value\">" + Value(*it) +
                 "</td></tr>\n";
    }
    return s;
}

std::string AccessTable(const std::vector<AccessLine>& accesses) {
    if (accesses.empty())
        return {};
    std::string t = "<section class=\"access\"><h2>查看记录</h2>\n<table class=\"access\">"
                    "<tr><th>查看人</th><th>时间</th></tr>\n";
    for (const AccessLine& a : accesses)
        t += "<tr><td>" + Html(a.staff) + "</td><td>" + Html(ChinaTime(a.at)) + "</td></tr>\n";
    return t + "</table></section>\n";
}

} // namespace

std::string ReportPage(const StoredReport& stored, const std::vector<AccessLine>& accesses) {
    const json report = json::parse(stored.body, nullptr, false);
    std::string b = "<table class=\"summary\">\n";
    auto line = [&b](const char* label, const std::string& html) {
        b += std::string("<tr><th>") + label + "</th><td class=\"value\">" + html + "</td></tr>\n";
    };
    line("报告编号", Html(DisplayReportCode(stored.code)));
    line("收到时间", Html(ChinaTime(stored.received)));
    line("地区", Html(RegionLabel(stored.region)));
    line("工具版本", Html(stored.toolVersion));
    if (report.is_object()) {
        line("检测时间", Value(report[rs::kTime]));
        line("服务器", Value(report[rs::kServer]));
        line("配置文件", Value(report[rs::kDocument]));
    }
    line("退出码", std::to_string(stored.exitCode));
    line("上传地址", Html(stored.address));
    if (report.is_object())
        b += SystemLines(report);
    b += "</table>\n";
    if (!report.is_object())
        return b + "<p class=\"error\">报告内容无法读取。</p>\n" + AccessTable(accesses);
    for (int i = 0; i < kRowCount; ++i) {
        const json& row = report[rs::kRows][i];
        const json& code = row[rs::kCode];
        const char* colour = code.is_null() ? "none" : code.get<long long>() < 0 ? "fault" : "ok";
        b += std::string("<section class=\"row\" id=\"row-") + rs::kItems[i] +
             "\"><h2><span class=\"dot " + colour + "\"></span>" + Html(RowName(i)) +
             "：<span class=\"result\">" +
             (code.is_null() ? std::string("未检测") : Html(row[rs::kText].get<std::string>())) +
             "</span></h2>\n";
        if (row[rs::kInstall].is_string())
            b += "<p>安装：" + Html(row[rs::kInstall].get<std::string>()) + "</p>\n";
        b += FactsTable(row[rs::kFacts]) + "</section>\n";
    }
    return b + AccessTable(accesses);
}
