#pragma once

#include "engine/report/check_report.h"

#include <nlohmann/json.hpp>
#include <string>

// The report as a JSON value; its shape is described in docs/report-format.md and held by a
// test.
nlohmann::json ReportJson(const CheckReport& report);

// The report as JSON text, indented. Bytes that are not UTF-8 become U+FFFD, so the text is
// always valid JSON.
std::string ReportJsonText(const CheckReport& report);
