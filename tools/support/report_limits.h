#pragma once

#include <nlohmann/json.hpp>

#include <string>

// What a report may hold beyond its shape, so that what an upload adds to the versions, the
// hourly counters and the pages stays small: the region one of the known ones; versions and
// component names at most kMaxVersionChars characters; every other string (in members the
// server does not know as well) at most kMaxTextChars. On failure `reason` names the member.
inline constexpr size_t kMaxVersionChars = 64;
inline constexpr size_t kMaxTextChars = 400;
bool WithinReportLimits(const nlohmann::json& report, std::string& reason);

// Characters (code points) of UTF-8 text.
size_t Utf8Length(const std::string& text);
