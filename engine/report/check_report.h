#pragma once

#include "engine/queued_handoff.h"
#include "engine/report/report_shape.h"
#include "engine/update/release_offer.h"

#include <QMetaType>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What one check run found, beside the result codes it signals: per row, what was expected,
// what was found and where it was looked up. Values found on the machine are kept as they
// are (UTF-8); formatting for people and for files happens elsewhere.
struct CheckFact {
    std::string name;  // stable id: "server", "registryKey", "version", "SyncMode5", ...
    int entry = -1;    // index of the driver entry the fact belongs to, -1 for the row itself
    std::string where; // registry path, file, URL or document member looked at
    std::optional<std::string> expected; // none when nothing is required
    std::optional<std::string> found;    // none when nothing was found there
    bool ok = false;
    std::string note; // why a value could not be read, when that is known
};

struct CheckRow {
    std::string item;        // report_shape::kItems
    std::optional<int> code; // the result the row's signal carried; none when not checked
    std::string text;        // the result text the panel shows for that code
    std::vector<CheckFact> facts;
    std::string install; // outcome of this session's last install or repair of the item
    // The exit code of that install's installer (for the CA drivers the first that was not
    // 0), when one ran.
    std::optional<std::int64_t> installExitCode;
};

// Which Windows the check ran on, and its Microsoft Edge.
struct SystemFacts {
    int build = 0;
    std::string edition;
    int bits = 32;
    bool ieRetired = false;
    std::optional<std::string> edge; // Edge's version; none when Edge is not installed
};

struct CheckReport {
    std::string time;        // ISO 8601 with the UTC offset, when the check started
    std::string toolVersion; // this program's version
    std::string region;      // "shanxi", "hebei", "neimeng"
    std::string server;      // the configured server address
    std::string document;    // the configured document path
    std::vector<CheckRow> rows = EmptyRows();
    // Where the server document says reports may be uploaded (empty: nowhere). Not part of
    // the report's JSON.
    std::string reportUrl;
    SystemFacts system;
    // Whether the server document was signed: "unsigned" (no key configured), "signed"
    // (verified), "unverified" (keys configured, the document not verified). In the JSON
    // within `system`.
    std::string documentSignature = "unsigned";
    // The tool's release that a signed document offers (nothing when none is newer).
    UpdateState update;
    // The hosts the IE check required in Edge's IE mode site list (for the IE repair).
    std::vector<std::string> ieHosts;
    // Last: a slot that receives the report by a queued signal calls handoff.Received().
    QueuedHandoff handoff;

    static std::vector<CheckRow> EmptyRows();
};

// The version of the report's JSON shape.
inline constexpr int kReportFormatVersion = report_shape::kVersion;

// What the headless check exits with: 0 everything in order, 1 something needs repair, 2 the
// server could not be reached or its document does not describe the region.
int ReportExitCode(const CheckReport& report);

Q_DECLARE_METATYPE(CheckReport)
