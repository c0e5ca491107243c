#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// Document key of a region index: 0 "shanxi", 1 "hebei", 2 "neimeng"; empty otherwise.
std::string RegionName(int regionIndex);

// The member of an object, or null when it is missing or `j` is not an object.
nlohmann::json Member(const nlohmann::json& j, const std::string& key);

// A member read as text; a missing member or one of another type throws
// nlohmann::json::type_error.
std::string TextMember(const nlohmann::json& j, const std::string& key);

// The entries of a region's `driver` member: the elements of an array, the member values
// of an object in key order, nothing for a missing or null member. Any other value is
// one entry, which then fails to read.
std::vector<nlohmann::json> DriverEntries(const nlohmann::json& region);

// The optional `sha256` member of an installer entry; empty when absent or null.
std::string ExpectedSha256(const nlohmann::json& entry);
