#include "report_limits.h"

#include "engine/region_table.h"
#include "engine/report/report_shape.h"

namespace rs = report_shape;
using nlohmann::json;

size_t Utf8Length(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

namespace {

bool TooLong(const json& value, size_t limit) {
    return value.is_string() && Utf8Length(value.get_ref<const std::string&>()) > limit;
}

std::string FileName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every string below `value`, without recursion.
bool TextsWithin(const json& root, const std::string& rootPath, std::string& reason) {
    std::vector<std::pair<const json*, std::string>> stack{{&root, rootPath}};
    while (!stack.empty()) {
        auto [value, path] = stack.back();
        stack.pop_back();
        if (TooLong(*value, kMaxTextChars)) {
            reason = path + ": longer than " + std::to_string(kMaxTextChars) + " characters";
            return false;
        }
        if (value->is_object())
            for (auto it = value->begin(); it != value->end(); ++it) {
                if (Utf8Length(it.key()) > kMaxVersionChars) {
                    reason = path + ": a member name longer than " +
                             std::to_string(kMaxVersionChars) + " characters";
                    return false;
                }
                stack.emplace_back(&*it, path + "." + it.key());
            }
        else if (value->is_array())
            for (size_t i = 0; i < value->size(); ++i)
                stack.emplace_back(&(*value)[i], path + "[" + std::to_string(i) + "]");
    }
    return true;
}

} // namespace

bool WithinReportLimits(const json& report, std::string& reason) {
    const std::string& region = report[rs::kRegion].get_ref<const std::string&>();
    if (RegionIndexOf(region) < 0) {
        reason = "report.region: must be one of " + RegionKeys(", ");
        return false;
    }
    auto version = [&reason](const json& value, const std::string& path) {
        if (!TooLong(value, kMaxVersionChars))
            return true;
        reason = path + ": longer than " + std::to_string(kMaxVersionChars) + " characters";
        return false;
    };
    if (!version(report[rs::kToolVersion], "report.toolVersion"))
        return false;
    const json& rows = report[rs::kRows];
    for (int i = 0; i < kRowCount; ++i) {
        const json& facts = rows[i][rs::kFacts];
        for (size_t f = 0; f < facts.size(); ++f) {
            const json& fact = facts[f];
            if (fact[rs::kName] != "version")
                continue;
            const std::string path =
                "report.rows[" + std::to_string(i) + "].facts[" + std::to_string(f) + "]";
            if (!version(fact[rs::kFound], path + ".found") ||
                !version(fact[rs::kExpected], path + ".expected") ||
                !version(json(FileName(fact[rs::kWhere].get<std::string>())),
                         path + ".where (its file name)"))
                return false;
        }
    }
    auto system = report.find(rs::kSystem);
    if (system != report.end()) {
        auto edge = system->find(rs::kEdge);
        if (edge != system->end() && !version(*edge, "report.system.edge"))
            return false;
    }
    return TextsWithin(report, "report", reason);
}
