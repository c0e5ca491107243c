#pragma once

#include <cstdint>
#include <map>
#include <string>

// Text as HTML content or attribute value: markup characters as entities, control
// characters shown as \xNN.
std::string Html(const std::string& text);

// A query parameter value, percent-encoded.
std::string UrlEncode(const std::string& text);

// Unix seconds as "YYYY-MM-DD HH:MM:SS" in China Standard Time (UTC+8).
std::string ChinaTime(std::int64_t unixSeconds);
// "YYYY-MM-DD" read as the start of that day in China Standard Time; false when malformed.
bool ParseChinaDate(const std::string& text, std::int64_t& unixSeconds);

// The Chinese name of a known region ("hebei": "河北", from kRegions of
// engine/region_table.h), else the region as sent.
std::string RegionLabel(const std::string& region);

// A whole page: title, navigation (unless `withNav` is false) and the body's HTML.
std::string PageHtml(const std::string& title, const std::string& body, bool withNav = true);

// The pages' stylesheet, served by the server itself (the pages carry no inline style).
const std::string& StyleSheet();
