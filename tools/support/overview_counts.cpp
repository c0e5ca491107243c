#include "overview_counts.h"

#include <algorithm>

const char kOtherName[] = "其他";

std::vector<CountKey> CountKeys(const ReportDigest& d) {
    std::vector<CountKey> keys;
    keys.push_back({d.region, CountKind::Reports, "", ""});
    for (int i = 0; i < kRowCount; ++i)
        if (d.failedRows & (1 << i))
            keys.push_back({d.region, CountKind::Failing, std::to_string(i), ""});
    if (!d.windows.empty()) {
        keys.push_back({d.region, CountKind::WithSystem, "", ""});
        keys.push_back({d.region, CountKind::Windows, d.windows, ""});
        if (d.bits == 64)
            keys.push_back({d.region, CountKind::Bits64, "", ""});
    }
    for (const VersionSeen& v : d.versions) {
        keys.push_back({d.region, CountKind::Component, v.component, ""});
        keys.push_back({d.region, CountKind::Expected, v.component, v.expected});
        keys.push_back({d.region, CountKind::Found, v.component, v.found});
    }
    return keys;
}

namespace {

struct Seen {
    int total = 0;
    std::map<std::string, int> expected, found;
};

} // namespace

std::map<std::string, RegionOverview> ToOverview(const OverviewCounts& counts) {
    std::map<std::string, RegionOverview> regions;
    std::map<std::string, std::map<std::string, Seen>> seen; // region -> component
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
        case CountKind::Version: // converted when the database is opened
            break;
        case CountKind::Component:
            seen[key.region][key.a].total += n;
            break;
        case CountKind::Expected:
            seen[key.region][key.a].expected[key.b] += n;
            break;
        case CountKind::Found:
            seen[key.region][key.a].found[key.b] += n;
            break;
        }
    }
    for (auto& [region, components] : seen) {
        for (auto& [component, versions] : components) {
            ComponentVersions c;
            c.component = component;
            c.total = versions.total;
            int best = -1;
            for (const auto& [expected, n] : versions.expected)
                if (n > best) {
                    best = n;
                    c.expected = expected;
                }
            c.found.assign(versions.found.begin(), versions.found.end());
            std::stable_sort(c.found.begin(), c.found.end(),
                             [](const auto& x, const auto& y) { return x.second > y.second; });
            regions[region].versions.push_back(std::move(c));
        }
    }
    return regions;
}
