#pragma once

#include "engine/report/check_report.h"

#include <cstddef>
#include <string>
#include <vector>

// One line per fact of a row, in Chinese, then the outcome of the last install when there
// is one. Control characters in values are shown escaped ("\n", "\x01"); a value longer
// than `maxValueChars` characters (when not 0) is cut and ends with "…".
std::vector<std::string> RowDetailLines(const CheckRow& row, std::size_t maxValueChars = 0);

// The whole report as plain text, ready to paste into a chat with support. Values are
// never cut.
std::string ReportText(const CheckReport& report);

// A UTF-8 text for reading: control characters escaped, invalid bytes as U+FFFD, at most
// `maxChars` characters when not 0 (then cut with "…").
std::string ReadableValue(const std::string& value, std::size_t maxChars);
