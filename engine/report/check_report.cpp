#include "engine/report/check_report.h"

std::vector<CheckRow> CheckReport::EmptyRows() {
    std::vector<CheckRow> rows(kRowCount);
    rows[kNetworkRow].item = "network";
    rows[kDotNetRow].item = "dotnet";
    rows[kIERow].item = "ie";
    rows[kToolRow].item = "tool";
    rows[kCaRow].item = "ca";
    return rows;
}

int ReportExitCode(const CheckReport& report) {
    const CheckRow& network = report.rows[kNetworkRow];
    if (!network.code || *network.code < 0)
        return 2;
    for (const CheckFact& fact : network.facts)
        if (!fact.ok)
            return 2;
    for (const CheckRow& row : report.rows)
        if (!row.code || *row.code < 0)
            return 1;
    return 0;
}
