#pragma once

#include "engine/report/report_shape.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

// A version the report found, against the one the document asks for.
struct VersionSeen {
    std::string component; // "投标工具", "CA 驱动 QdCaDriver.dll"
    std::string found;     // "未找到" when no version could be read
    std::string expected;
};

// What the support pages sort and count reports by, taken from a report of the valid shape.
struct ReportDigest {
    std::string region;
    std::string toolVersion;
    int exitCode = 0;
    std::array<std::optional<int>, kRowCount> codes;
    int failedRows = 0;  // bit i set when row i's code is negative
    std::string windows; // "Windows 10", ...; empty without a system description
    int bits = 0;        // 32 or 64; 0 without one
    std::vector<VersionSeen> versions;
};

ReportDigest DigestReport(const nlohmann::json& report);

// The Windows name of a build number ("19045": "Windows 10"); empty when unknown.
std::string WindowsName(const std::string& build);
