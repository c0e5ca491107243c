#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Document key of a region index (kRegions of engine/region_table.h: 0 "shanxi", 1 "hebei",
// 2 "neimeng"); empty otherwise.
std::string RegionName(int regionIndex);

// The member of an object, or null when it is missing or `j` is not an object. A reference
// into `j` (or to a shared null): sections are read in place, never copied.
const nlohmann::json& Member(const nlohmann::json& j, const std::string& key);

// A member read as text; a missing member or one of another type throws
// nlohmann::json::type_error.
std::string TextMember(const nlohmann::json& j, const std::string& key);

// The entries of a region's `driver` member: the elements of an array, nothing for a
// missing or null member. False, with no entries, when the region is not an object (a
// missing region included) or `driver` is anything else: the list cannot be read.
bool DriverEntries(const nlohmann::json& region, std::vector<const nlohmann::json*>& entries);

// The optional `sha256` member of an installer entry; empty when absent or null.
std::string ExpectedSha256(const nlohmann::json& entry);

// The optional `size` member of an installer entry (its length in bytes); 0 when absent or
// null. Anything but a whole number above 0 throws std::runtime_error: a document fault.
std::uint64_t ExpectedSize(const nlohmann::json& entry);

// The optional `silentArgs` member of an installer entry: the arguments that make it install
// with nobody at the screen (the repair without a window passes them); empty when absent or
// null. Not a string, longer than kSilentArgsLimit bytes, or with a control character (a line
// break) throws std::runtime_error: a document fault.
inline constexpr std::size_t kSilentArgsLimit = 512;
std::string SilentArgs(const nlohmann::json& entry);
