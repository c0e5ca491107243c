#include "region.h"

std::string RegionName(int regionIndex) {
    switch (regionIndex) {
    case 0:
        return "shanxi";
    case 1:
        return "hebei";
    case 2:
        return "neimeng";
    default:
        return std::string();
    }
}

nlohmann::json Member(const nlohmann::json& j, const std::string& key) {
    if (!j.is_object())
        return nullptr;
    auto it = j.find(key);
    return it == j.end() ? nlohmann::json() : *it;
}

std::string TextMember(const nlohmann::json& j, const std::string& key) {
    return Member(j, key).get<std::string>();
}

std::vector<nlohmann::json> DriverEntries(const nlohmann::json& region) {
    const nlohmann::json driver = Member(region, "driver");
    std::vector<nlohmann::json> entries;
    if (driver.is_null())
        return entries;
    if (driver.is_array() || driver.is_object()) {
        for (const auto& entry : driver) // object members iterate in key order
            entries.push_back(entry);
        return entries;
    }
    entries.push_back(driver);
    return entries;
}

std::string ExpectedSha256(const nlohmann::json& entry) {
    const nlohmann::json sha = Member(entry, "sha256");
    return sha.is_null() ? std::string() : sha.get<std::string>();
}
