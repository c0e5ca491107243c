#include "engine/report/report_json.h"

namespace {

nlohmann::json Optional(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json();
}

nlohmann::json FactJson(const CheckFact& fact) {
    return {{"name", fact.name},
            {"entry", fact.entry >= 0 ? nlohmann::json(fact.entry) : nlohmann::json()},
            {"where", fact.where},
            {"expected", Optional(fact.expected)},
            {"found", Optional(fact.found)},
            {"ok", fact.ok},
            {"note", fact.note}};
}

} // namespace

nlohmann::json ReportJson(const CheckReport& report) {
    nlohmann::json rows = nlohmann::json::array();
    for (const CheckRow& row : report.rows) {
        nlohmann::json facts = nlohmann::json::array();
        for (const CheckFact& fact : row.facts)
            facts.push_back(FactJson(fact));
        rows.push_back(
            {{"item", row.item},
             {"code", row.code ? nlohmann::json(*row.code) : nlohmann::json()},
             {"text", row.text},
             {"facts", facts},
             {"install", row.install.empty() ? nlohmann::json() : nlohmann::json(row.install)}});
    }
    return {{"version", kReportFormatVersion},
            {"time", report.time},
            {"toolVersion", report.toolVersion},
            {"region", report.region},
            {"server", report.server},
            {"document", report.document},
            {"system",
             {{"build", report.system.build},
              {"edition", report.system.edition},
              {"bits", report.system.bits},
              {"ieRetired", report.system.ieRetired},
              {"edge", Optional(report.system.edge)}}},
            {"exitCode", ReportExitCode(report)},
            {"rows", rows}};
}

std::string ReportJsonText(const CheckReport& report) {
    return ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
