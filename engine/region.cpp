#include "engine/region.h"

#include "engine/region_table.h"

#include <stdexcept>

std::string RegionName(int regionIndex) {
    if (regionIndex < 0 || regionIndex >= static_cast<int>(kRegions.size()))
        return std::string();
    return kRegions[regionIndex].key;
}

const nlohmann::json& Member(const nlohmann::json& j, const std::string& key) {
    static const nlohmann::json kNull;
    if (!j.is_object())
        return kNull;
    auto it = j.find(key);
    return it == j.end() ? kNull : *it;
}

std::string TextMember(const nlohmann::json& j, const std::string& key) {
    return Member(j, key).get<std::string>();
}

bool DriverEntries(const nlohmann::json& region, std::vector<const nlohmann::json*>& entries) {
    entries.clear();
    if (!region.is_object())
        return false;
    const nlohmann::json& driver = Member(region, "driver");
    if (driver.is_null())
        return true;
    if (!driver.is_array())
        return false;
    for (const nlohmann::json& entry : driver)
        entries.push_back(&entry);
    return true;
}

std::string ExpectedSha256(const nlohmann::json& entry) {
    const nlohmann::json& sha = Member(entry, "sha256");
    return sha.is_null() ? std::string() : sha.get<std::string>();
}

std::string SilentArgs(const nlohmann::json& entry) {
    const nlohmann::json& args = Member(entry, "silentArgs");
    if (args.is_null())
        return std::string();
    if (!args.is_string())
        throw std::runtime_error("installer silentArgs " + args.dump() + " is not a string");
    const std::string text = args.get<std::string>();
    if (text.size() > kSilentArgsLimit)
        throw std::runtime_error("installer silentArgs longer than " +
                                 std::to_string(kSilentArgsLimit) + " bytes");
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            throw std::runtime_error("installer silentArgs with a control character");
    return text;
}

std::uint64_t ExpectedSize(const nlohmann::json& entry) {
    const nlohmann::json& size = Member(entry, "size");
    if (size.is_null())
        return 0;
    if (!size.is_number_unsigned() || size.get<std::uint64_t>() == 0)
        throw std::runtime_error("installer size " + size.dump() + " is not a byte count");
    return size.get<std::uint64_t>();
}
