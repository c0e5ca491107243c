#pragma once

// The JSON report's shape, in one place: the names its writer uses and the check its
// readers (the support server) apply. Needs nlohmann-json only, no Qt.

#include <nlohmann/json.hpp>

#include <array>
#include <string>

// The rows of a check, in the order the panel shows them and the report lists them.
enum CheckRowIndex { kNetworkRow, kDotNetRow, kIERow, kToolRow, kCaRow, kRowCount };

namespace report_shape {

inline constexpr int kVersion = 1;

// The item name of each row, by CheckRowIndex.
inline constexpr std::array<const char*, kRowCount> kItems = {"network", "dotnet", "ie", "tool",
                                                              "ca"};

// Deepest nesting of arrays and objects a report may have (the report itself is level 1).
inline constexpr int kMaxDepth = 8;

// Top-level members.
inline constexpr char kVersionKey[] = "version";
inline constexpr char kTime[] = "time";
inline constexpr char kToolVersion[] = "toolVersion";
inline constexpr char kRegion[] = "region";
inline constexpr char kServer[] = "server";
inline constexpr char kDocument[] = "document";
inline constexpr char kExitCode[] = "exitCode";
inline constexpr char kRows[] = "rows";
inline constexpr char kSystem[] = "system"; // optional

// Members of a row.
inline constexpr char kItem[] = "item";
inline constexpr char kCode[] = "code";
inline constexpr char kText[] = "text";
inline constexpr char kFacts[] = "facts";
inline constexpr char kInstall[] = "install";
// The exit code of the installer of that install (optional; an integer or null).
inline constexpr char kInstallExitCode[] = "exitCode";

// Members of a fact.
inline constexpr char kName[] = "name";
inline constexpr char kEntry[] = "entry";
inline constexpr char kWhere[] = "where";
inline constexpr char kExpected[] = "expected";
inline constexpr char kFound[] = "found";
inline constexpr char kOk[] = "ok";
inline constexpr char kNote[] = "note";

// Members of the optional system description.
inline constexpr char kBuild[] = "build";
inline constexpr char kEdition[] = "edition";
inline constexpr char kBits[] = "bits";
inline constexpr char kIeRetired[] = "ieRetired";
inline constexpr char kEdge[] = "edge";
inline constexpr char kSignature[] = "signature";
// The tool's own release that a signed document offers: {"available", "version" (null when
// none), "mandatory"}.
inline constexpr char kUpdate[] = "update";
inline constexpr char kAvailable[] = "available";
inline constexpr char kOfferedVersion[] = "version";
inline constexpr char kMandatory[] = "mandatory";

} // namespace report_shape

// Whether `report` has the report's shape: version 1, the five rows with their items in
// order, every known member present with its type (codes integers or null, strings where
// strings are due; a row's exitCode may be missing), nesting at most report_shape::kMaxDepth
// levels. Members it does not know are allowed. On failure `reason` says what is wrong, in one
// line, with the member's path.
bool ValidReportJson(const nlohmann::json& report, std::string& reason);

// Parses a report received as bytes: valid UTF-8, JSON no deeper than kMaxDepth (checked
// before any value is built), and ValidReportJson. Never throws.
bool ParseReportJson(const std::string& body, nlohmann::json& report, std::string& reason);

// A valid report (ValidReportJson) with only the members its shape defines: what a server
// stores, so that padding of unknown members takes no one's storage. Pass the report moved
// when it is not needed afterwards: the members are erased in place.
nlohmann::json ShapedReport(nlohmann::json report);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(const std::string& text);
