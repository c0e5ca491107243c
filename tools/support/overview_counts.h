#pragma once

#include "report_digest.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// The overview is made of counters: per region, reports, failing rows, system kinds and the
// versions found. The store keeps them per minute, hour and day as reports arrive, so that a
// period's overview adds up a bounded number of counters instead of reading every report.
// Version is the old combined counter (component, expected, found) of databases before
// schema version 3; reports now add Component, Expected and Found.
enum class CountKind {
    Reports,
    Failing,
    WithSystem,
    Bits64,
    Windows,
    Version,
    Component,
    Expected,
    Found
};

struct CountKey {
    std::string region;
    CountKind kind = CountKind::Reports;
    // Failing: row; Windows: name; Component: component; Expected, Found: component, version
    std::string a, b;
    bool operator<(const CountKey& o) const {
        return std::tie(region, kind, a, b) < std::tie(o.region, o.kind, o.a, o.b);
    }
};

using OverviewCounts = std::map<CountKey, std::int64_t>;

// Component names and versions come from uploads. Per region and period the store keeps the
// most frequent kKeptComponents components, and per component the most frequent
// kKeptVersions expected and found versions; the rest are counted under kOtherName. A group
// is cut back to what is kept once it has grown to twice that.
constexpr int kKeptComponents = 16;
constexpr int kKeptVersions = 6;
extern const char kOtherName[]; // "其他"

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
