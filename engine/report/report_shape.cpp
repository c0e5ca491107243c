#include "engine/report/report_shape.h"

namespace rs = report_shape;
using nlohmann::json;

namespace {

enum class Kind { Text, TextOrNull, Integer, IntegerOrNull, Boolean, Array, Object };

bool HasKind(const json& value, Kind kind) {
    switch (kind) {
    case Kind::Text:
        return value.is_string();
    case Kind::TextOrNull:
        return value.is_string() || value.is_null();
    case Kind::Integer:
        return value.is_number_integer();
    case Kind::IntegerOrNull:
        return value.is_number_integer() || value.is_null();
    case Kind::Boolean:
        return value.is_boolean();
    case Kind::Array:
        return value.is_array();
    case Kind::Object:
        return value.is_object();
    }
    return false;
}

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Text:
        return "a string";
    case Kind::TextOrNull:
        return "a string or null";
    case Kind::Integer:
        return "an integer";
    case Kind::IntegerOrNull:
        return "an integer or null";
    case Kind::Boolean:
        return "true or false";
    case Kind::Array:
        return "an array";
    case Kind::Object:
        return "an object";
    }
    return "";
}

struct Member {
    const char* name;
    Kind kind;
};

const Member kTopMembers[] = {{rs::kVersionKey, Kind::Integer}, {rs::kTime, Kind::Text},
                              {rs::kToolVersion, Kind::Text},   {rs::kRegion, Kind::Text},
                              {rs::kServer, Kind::Text},        {rs::kDocument, Kind::Text},
                              {rs::kExitCode, Kind::Integer},   {rs::kRows, Kind::Array}};
const Member kRowMembers[] = {{rs::kItem, Kind::Text},
                              {rs::kCode, Kind::IntegerOrNull},
                              {rs::kText, Kind::Text},
                              {rs::kFacts, Kind::Array},
                              {rs::kInstall, Kind::TextOrNull}};
const Member kFactMembers[] = {{rs::kName, Kind::Text},        {rs::kEntry, Kind::IntegerOrNull},
                               {rs::kWhere, Kind::Text},       {rs::kExpected, Kind::TextOrNull},
                               {rs::kFound, Kind::TextOrNull}, {rs::kOk, Kind::Boolean},
                               {rs::kNote, Kind::Text}};
// The system description is optional, and so is each of its members.
const Member kSystemMembers[] = {{rs::kBuild, Kind::Integer},   {rs::kEdition, Kind::Text},
                                 {rs::kBits, Kind::Integer},    {rs::kIeRetired, Kind::Boolean},
                                 {rs::kEdge, Kind::TextOrNull}, {rs::kSignature, Kind::Text}};

const Member kUpdateMembers[] = {{rs::kAvailable, Kind::Boolean},
                                 {rs::kOfferedVersion, Kind::TextOrNull},
                                 {rs::kMandatory, Kind::Boolean}};
const Member kOptionalRowMembers[] = {{rs::kInstallExitCode, Kind::IntegerOrNull}};

template <size_t N> bool Names(const Member (&members)[N], const std::string& key) {
    for (const Member& m : members)
        if (key == m.name)
            return true;
    return false;
}

// Erases the members of `object` that `known` does not name; in place, so that no value is
// copied.
template <typename Known> void KeepOnly(json& object, Known known) {
    if (!object.is_object())
        return;
    for (auto it = object.begin(); it != object.end();)
        it = known(it.key()) ? std::next(it) : object.erase(it);
}

template <size_t N>
bool CheckMembers(const json& object, const Member (&members)[N], const std::string& path,
                  bool required, std::string& reason) {
    if (!object.is_object()) {
        reason = path + ": must be an object";
        return false;
    }
    for (const Member& m : members) {
        auto it = object.find(m.name);
        if (it == object.end()) {
            if (!required)
                continue;
            reason = path + "." + m.name + ": missing";
            return false;
        }
        if (!HasKind(*it, m.kind)) {
            reason = path + "." + m.name + ": must be " + KindName(m.kind);
            return false;
        }
    }
    return true;
}

// Depth of nested arrays and objects, without recursion; stops counting past `limit`.
int Depth(const json& root, int limit) {
    struct Frame {
        const json* value;
        int depth;
    };
    std::vector<Frame> stack{{&root, 1}};
    int deepest = 0;
    while (!stack.empty()) {
        Frame f = stack.back();
        stack.pop_back();
        if (!f.value->is_structured())
            continue;
        deepest = std::max(deepest, f.depth);
        if (deepest > limit)
            return deepest;
        for (const json& child : *f.value)
            stack.push_back({&child, f.depth + 1});
    }
    return deepest;
}

// Depth of nested brackets in JSON text, outside strings; stops past `limit`.
bool TextDepthWithin(const std::string& text, int limit) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

} // namespace

bool ValidReportJson(const json& report, std::string& reason) {
    if (Depth(report, rs::kMaxDepth) > rs::kMaxDepth) {
        reason = "nested deeper than " + std::to_string(rs::kMaxDepth) + " levels";
        return false;
    }
    if (!CheckMembers(report, kTopMembers, "report", true, reason))
        return false;
    if (report[rs::kVersionKey] != rs::kVersion) {
        reason = "report.version: must be " + std::to_string(rs::kVersion);
        return false;
    }
    const json& rows = report[rs::kRows];
    if (rows.size() != kRowCount) {
        reason = "report.rows: must have " + std::to_string(kRowCount) + " rows";
        return false;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string path = "report.rows[" + std::to_string(i) + "]";
        if (!CheckMembers(rows[i], kRowMembers, path, true, reason))
            return false;
        if (!CheckMembers(rows[i], kOptionalRowMembers, path, false, reason))
            return false;
        if (rows[i][rs::kItem] != rs::kItems[i]) {
            reason = path + ".item: must be \"" + rs::kItems[i] + "\"";
            return false;
        }
        const json& facts = rows[i][rs::kFacts];
        for (size_t f = 0; f < facts.size(); ++f)
            if (!CheckMembers(facts[f], kFactMembers, path + ".facts[" + std::to_string(f) + "]",
                              true, reason))
                return false;
    }
    auto system = report.find(rs::kSystem);
    if (system != report.end()) {
        if (!CheckMembers(*system, kSystemMembers, "report.system", false, reason))
            return false;
        auto bits = system->find(rs::kBits);
        if (bits != system->end() && *bits != 32 && *bits != 64) {
            reason = "report.system.bits: must be 32 or 64";
            return false;
        }
    }
    auto update = report.find(rs::kUpdate);
    if (update != report.end() &&
        !CheckMembers(*update, kUpdateMembers, "report.update", false, reason))
        return false;
    return true;
}

json ShapedReport(json report) {
    KeepOnly(report, [](const std::string& key) {
        return Names(kTopMembers, key) || key == rs::kSystem || key == rs::kUpdate;
    });
    for (json& row : report[rs::kRows]) {
        KeepOnly(row, [](const std::string& key) {
            return Names(kRowMembers, key) || Names(kOptionalRowMembers, key);
        });
        for (json& fact : row[rs::kFacts])
            KeepOnly(fact, [](const std::string& key) { return Names(kFactMembers, key); });
    }
    auto system = report.find(rs::kSystem);
    if (system != report.end())
        KeepOnly(*system, [](const std::string& key) { return Names(kSystemMembers, key); });
    auto update = report.find(rs::kUpdate);
    if (update != report.end())
        KeepOnly(*update, [](const std::string& key) { return Names(kUpdateMembers, key); });
    return report;
}

bool ParseReportJson(const std::string& body, json& report, std::string& reason) {
    if (!IsUtf8(body)) {
        reason = "the body is not UTF-8";
        return false;
    }
    if (!TextDepthWithin(body, rs::kMaxDepth)) {
        reason = "nested deeper than " + std::to_string(rs::kMaxDepth) + " levels";
        return false;
    }
    report = json::parse(body, nullptr, false);
    if (report.is_discarded()) {
        reason = "the body is not JSON";
        return false;
    }
    return ValidReportJson(report, reason);
}

bool IsUtf8(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}
