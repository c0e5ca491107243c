#include "report_digest.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace rs = report_shape;
using nlohmann::json;

namespace {

std::string TextOr(const json& object, const char* member, const std::string& otherwise) {
    auto it = object.find(member);
    return it != object.end() && it->is_string() ? it->get<std::string>() : otherwise;
}

std::string FileName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A document names a handful of CA files; a report that claims more is not counted beyond.
constexpr size_t kMaxVersions = 16;

void AddVersions(const json& row, bool perFile, std::vector<VersionSeen>& out) {
    for (const json& fact : row[rs::kFacts]) {
        if (fact[rs::kName] != "version" || out.size() == kMaxVersions)
            continue;
        VersionSeen seen;
        seen.component = perFile ? "CA 驱动 " + FileName(fact[rs::kWhere].get<std::string>())
                                 : std::string("投标工具");
        seen.found = TextOr(fact, rs::kFound, "未找到");
        seen.expected = TextOr(fact, rs::kExpected, "");
        out.push_back(std::move(seen));
    }
}

// An integer member as an int; values outside its range are held at its ends.
int ClampedInt(const json& value) {
    if (value.is_number_unsigned())
        return static_cast<int>(std::min<std::uint64_t>(value.get<std::uint64_t>(), INT_MAX));
    return static_cast<int>(std::clamp<std::int64_t>(value.get<std::int64_t>(), INT_MIN, INT_MAX));
}

} // namespace

std::string WindowsName(const std::string& build) {
    if (build.empty() || build.size() > 6 || build.find_first_not_of("0123456789") != build.npos)
        return {};
    long number = std::atol(build.c_str());
    if (number >= 22000)
        return "Windows 11";
    if (number >= 10240)
        return "Windows 10";
    if (number >= 9600)
        return "Windows 8.1";
    if (number >= 9200)
        return "Windows 8";
    if (number >= 7600)
        return "Windows 7";
    return {};
}

ReportDigest DigestReport(const json& report) {
    ReportDigest d;
    d.region = report[rs::kRegion].get<std::string>();
    d.toolVersion = report[rs::kToolVersion].get<std::string>();
    d.exitCode = ClampedInt(report[rs::kExitCode]);
    const json& rows = report[rs::kRows];
    for (int i = 0; i < kRowCount; ++i) {
        const json& code = rows[i][rs::kCode];
        if (code.is_number_integer()) {
            d.codes[i] = ClampedInt(code);
            if (*d.codes[i] < 0)
                d.failedRows |= 1 << i;
        }
    }
    AddVersions(rows[kToolRow], false, d.versions);
    AddVersions(rows[kCaRow], true, d.versions);
    auto system = report.find(rs::kSystem);
    if (system != report.end()) {
        auto build = system->find(rs::kBuild);
        if (build != system->end() && build->is_number_integer())
            d.windows = WindowsName(std::to_string(ClampedInt(*build)));
        if (d.windows.empty())
            d.windows = "其他";
        auto bits = system->find(rs::kBits);
        if (bits != system->end())
            d.bits = bits->get<int>();
    }
    return d;
}
