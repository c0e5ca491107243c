#include "engine/report/report_json.h"

#include "engine/report/report_shape.h"

namespace rs = report_shape;

namespace {

nlohmann::json Optional(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json();
}

nlohmann::json FactJson(const CheckFact& fact) {
    return {{rs::kName, fact.name},
            {rs::kEntry, fact.entry >= 0 ? nlohmann::json(fact.entry) : nlohmann::json()},
            {rs::kWhere, fact.where},
            {rs::kExpected, Optional(fact.expected)},
            {rs::kFound, Optional(fact.found)},
            {rs::kOk, fact.ok},
            {rs::kNote, fact.note}};
}

} // namespace

nlohmann::json ReportJson(const CheckReport& report) {
    nlohmann::json rows = nlohmann::json::array();
    for (const CheckRow& row : report.rows) {
        nlohmann::json facts = nlohmann::json::array();
        for (const CheckFact& fact : row.facts)
            facts.push_back(FactJson(fact));
        rows.push_back(
            {{rs::kItem, row.item},
             {rs::kCode, row.code ? nlohmann::json(*row.code) : nlohmann::json()},
             {rs::kText, row.text},
             {rs::kFacts, facts},
             {rs::kInstall, row.install.empty() ? nlohmann::json() : nlohmann::json(row.install)},
             {rs::kInstallExitCode,
              row.installExitCode ? nlohmann::json(*row.installExitCode) : nlohmann::json()}});
    }
    return {{rs::kVersionKey, rs::kVersion},
            {rs::kTime, report.time},
            {rs::kToolVersion, report.toolVersion},
            {rs::kRegion, report.region},
            {rs::kServer, report.server},
            {rs::kDocument, report.document},
            {rs::kSystem,
             {{rs::kBuild, report.system.build},
              {rs::kEdition, report.system.edition},
              {rs::kBits, report.system.bits},
              {rs::kIeRetired, report.system.ieRetired},
              {rs::kEdge, Optional(report.system.edge)},
              {rs::kSignature, report.documentSignature}}},
            {rs::kUpdate,
             {{rs::kAvailable, report.update.available},
              {rs::kOfferedVersion,
               report.update.available ? nlohmann::json(report.update.version) : nlohmann::json()},
              {rs::kMandatory, report.update.mandatory}}},
            {rs::kExitCode, ReportExitCode(report)},
            {rs::kRows, rows}};
}

std::string ReportJsonText(const CheckReport& report) {
    return ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
