#include "overview_counts.h"

#include <algorithm>

std::vector<CountKey> CountKeys(const ReportDigest& d) {
    std::vector<CountKey> keys;
    keys.push_back({d.region, CountKind::Reports, "", "", ""});
    for (int i = 0; i < kRowCount; ++i)
        if (d.failedRows & (1 << i))
            keys.push_back({d.region, CountKind::Failing, std::to_string(i), "", ""});
    if (!d.windows.empty()) {
        keys.push_back({d.region, CountKind::WithSystem, "", "", ""});
        keys.push_back({d.region, CountKind::Windows, d.windows, "", ""});
        if (d.bits == 64)
            keys.push_back({d.region, CountKind::Bits64, "", "", ""});
    }
    for (const VersionSeen& v : d.versions)
        keys.push_back({d.region, CountKind::Version, v.component, v.expected, v.found});
    return keys;
}

std::map<std::string, RegionOverview> ToOverview(const OverviewCounts& counts) {
    std::map<std::string, RegionOverview> regions;
    // region -> component -> (expected -> count, found -> count)
    std::map<
        std::string,
        std::map<std::string, std::pair<std::map<std::string, int>, std::map<std::string, int>>>>
        seen;
    for (const auto& [key, count] : counts) {
        const int n = static_cast<int>(count);
        RegionOverview& r = regions[key.region];
        switch (key.kind) {
        case CountKind::Reports:
            r.reports += n;
            break;
        case CountKind::Failing: {
            const int row = key.a.size() == 1 ? key.a[0] - '0' : -1;
            if (row >= 0 && row < kRowCount)
                r.failing[row] += n;
            break;
        }
        case CountKind::WithSystem:
            r.withSystem += n;
            break;
        case CountKind::Bits64:
            r.bits64 += n;
            break;
        case CountKind::Windows:
            r.windows[key.a] += n;
            break;
        case CountKind::Version: {
            auto& versions = seen[key.region][key.a];
            versions.first[key.b] += n;
            versions.second[key.c] += n;
            break;
        }
        }
    }
    for (auto& [region, components] : seen) {
        for (auto& [component, versions] : components) {
            ComponentVersions c;
            c.component = component;
            int best = -1;
            for (const auto& [expected, n] : versions.first)
                if (n > best) {
                    best = n;
                    c.expected = expected;
                }
            c.found.assign(versions.second.begin(), versions.second.end());
            std::stable_sort(c.found.begin(), c.found.end(),
                             [](const auto& x, const auto& y) { return x.second > y.second; });
            for (const auto& f : c.found)
                c.total += f.second;
            regions[region].versions.push_back(std::move(c));
        }
    }
    return regions;
}
