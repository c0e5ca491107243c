#pragma once

#include "report_digest.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// The overview is made of counters: per region, reports, failing rows, system kinds and the
// versions found. The store keeps them per hour, so that a week's overview adds up a few
// thousand counters instead of reading every report.
enum class CountKind { Reports, Failing, WithSystem, Bits64, Windows, Version };

struct CountKey {
    std::string region;
    CountKind kind = CountKind::Reports;
    std::string a, b, c; // Failing: row; Windows: name; Version: component, expected, found
    bool operator<(const CountKey& o) const {
        return std::tie(region, kind, a, b, c) < std::tie(o.region, o.kind, o.a, o.b, o.c);
    }
};

using OverviewCounts = std::map<CountKey, std::int64_t>;

struct ComponentVersions {
    std::string component;
    std::string expected;                           // the most often expected version
    std::vector<std::pair<std::string, int>> found; // most frequent first
    int total = 0;
};

struct RegionOverview {
    int reports = 0;
    std::array<int, kRowCount> failing{};
    std::map<std::string, int> windows; // Windows name: reports
    int withSystem = 0;
    int bits64 = 0;
    std::vector<ComponentVersions> versions;
};

// The counters one report adds.
std::vector<CountKey> CountKeys(const ReportDigest& digest);

std::map<std::string, RegionOverview> ToOverview(const OverviewCounts& counts);
