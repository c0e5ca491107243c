#include "engine/report/check_report.h"

std::vector<CheckRow> CheckReport::EmptyRows() {
    std::vector<CheckRow> rows(kRowCount);
    for (int i = 0; i < kRowCount; ++i)
        rows[i].item = report_shape::kItems[i];
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
