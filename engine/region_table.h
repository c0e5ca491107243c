#pragma once

// The regions of the server document, in the order of the window's region selector (its
// index is the region index of a job): the key of the region's section in the document, also
// the region of a report and of the download folder, and the name shown to people. Plain
// C++, shared with the servers.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

struct RegionEntry {
    const char* key;   // "shanxi"
    const char* label; // "山西"
};

inline constexpr std::array<RegionEntry, 3> kRegions = {{
    {"shanxi", "山西"},
    {"hebei", "河北"},
    {"neimeng", "内蒙"},
}};

// The index of a region key in kRegions; -1 when it names none.
constexpr int RegionIndexOf(std::string_view key) {
    for (std::size_t i = 0; i < kRegions.size(); ++i)
        if (key == kRegions[i].key)
            return static_cast<int>(i);
    return -1;
}

// The keys joined by `separator`: "shanxi|hebei|neimeng".
inline std::string RegionKeys(const char* separator) {
    std::string keys;
    for (const RegionEntry& region : kRegions)
        keys += (keys.empty() ? "" : separator) + std::string(region.key);
    return keys;
}
