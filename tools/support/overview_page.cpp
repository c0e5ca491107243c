#include "html.h"
#include "pages.h"

#include "engine/row_texts.h"

#include <algorithm>
#include <cmath>

namespace {

// Regions shown per period, the busiest first: names come from uploads, so there is a bound.
constexpr size_t kMaxRegions = 20;
constexpr size_t kVersionsShown = 3;
constexpr size_t kComponentsShown = 12;

std::string Percent(int part, int whole) {
    if (whole <= 0)
        return "0%";
    return std::to_string(static_cast<int>(std::lround(100.0 * part / whole))) + "%";
}

std::string RegionSection(const std::string& region, const RegionOverview& o) {
    const std::string name = Html(RegionLabel(region));
    std::string s = "<section class=\"region\"><h3>" + name + "：" + std::to_string(o.reports) +
                    " 份报告</h3>\n";
    std::vector<std::pair<std::string, double>> bars;
    for (int i = 0; i < kRowCount; ++i)
        bars.emplace_back(RowName(i), o.reports ? double(o.failing[i]) / o.reports : 0.0);
    s += "<p>各项未通过的比例：</p>\n" + BarChartSvg(bars);
    if (o.withSystem > 0) {
        s += "<p>Windows 版本（" + std::to_string(o.withSystem) + " 份报告带系统信息）：";
        std::vector<std::pair<std::string, int>> windows(o.windows.begin(), o.windows.end());
        std::stable_sort(windows.begin(), windows.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        for (const auto& [version, n] : windows)
            s += Html(version) + " " + Percent(n, o.withSystem) + "；";
        s += "64 位 " + Percent(o.bits64, o.withSystem) + "</p>\n";
    }
    if (!o.versions.empty()) {
        s += "<ul class=\"versions\">\n";
        std::vector<const ComponentVersions*> components;
        for (const ComponentVersions& c : o.versions)
            components.push_back(&c);
        std::stable_sort(components.begin(), components.end(),
                         [](auto* a, auto* b) { return a->total > b->total; });
        if (components.size() > kComponentsShown)
            components.resize(kComponentsShown);
        for (const ComponentVersions* component : components) {
            const ComponentVersions& c = *component;
            size_t shown = 0;
            for (const auto& [found, n] : c.found) {
                if (shown++ == kVersionsShown)
                    break;
                s += "<li>" + name + "：" + Html(c.component) + " " + Html(found) + " 占 " +
                     Percent(n, c.total) + "，应为 " + Html(c.expected) + "</li>\n";
            }
        }
        s += "</ul>\n";
    }
    return s + "</section>\n";
}

std::string Period(const char* title, const std::map<std::string, RegionOverview>& regions) {
    std::string s = std::string("<h2>") + title + "</h2>\n";
    if (regions.empty())
        return s + "<p>这段时间没有报告。</p>\n";
    std::vector<const std::pair<const std::string, RegionOverview>*> order;
    for (const auto& entry : regions)
        order.push_back(&entry);
    std::stable_sort(order.begin(), order.end(),
                     [](auto* a, auto* b) { return a->second.reports > b->second.reports; });
    if (order.size() > kMaxRegions)
        order.resize(kMaxRegions);
    for (auto* entry : order)
        s += RegionSection(entry->first, entry->second);
    return s;
}

} // namespace

std::string BarChartSvg(const std::vector<std::pair<std::string, double>>& bars) {
    const int labelWidth = 170, barWidth = 300, rowHeight = 22;
    const int height = rowHeight * static_cast<int>(bars.size()) + 4;
    std::string s = "<svg class=\"bars\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(labelWidth + barWidth + 60) + "\" height=\"" +
                    std::to_string(height) + "\" role=\"img\">\n";
    for (size_t i = 0; i < bars.size(); ++i) {
        const double share = std::clamp(bars[i].second, 0.0, 1.0);
        const int y = static_cast<int>(i) * rowHeight + 2;
        const int w = static_cast<int>(std::lround(share * barWidth));
        s += "<text x=\"0\" y=\"" + std::to_string(y + 15) + "\" font-size=\"13\">" +
             Html(bars[i].first) + "</text>";
        s += "<rect x=\"" + std::to_string(labelWidth) + "\" y=\"" + std::to_string(y) +
             "\" width=\"" + std::to_string(barWidth) + "\" height=\"18\" fill=\"#eee\"/>";
        s += "<rect class=\"bar\" x=\"" + std::to_string(labelWidth) + "\" y=\"" +
             std::to_string(y) + "\" width=\"" + std::to_string(w) +
             "\" height=\"18\" fill=\"#d33\"/>";
        s += "<text x=\"" + std::to_string(labelWidth + barWidth + 6) + "\" y=\"" +
             std::to_string(y + 15) + "\" font-size=\"13\">" +
             std::to_string(static_cast<int>(std::lround(share * 100))) + "%</text>\n";
    }
    return s + "</svg>\n";
}

std::string OverviewPage(const std::map<std::string, RegionOverview>& day,
                         const std::map<std::string, RegionOverview>& week) {
    return Period("最近 24 小时", day) + Period("最近 7 天", week);
}
