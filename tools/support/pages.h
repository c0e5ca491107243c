#pragma once

#include "report_store.h"

#include <map>
#include <string>
#include <vector>

// The support pages' bodies, server-rendered HTML; every value from a report is escaped.

std::string LoginPage(const std::string& message);

// One report as the tool shows it: the five rows with their results and facts, and who opened
// the page when (newest first).
std::string ReportPage(const StoredReport& report, const std::vector<AccessLine>& accesses = {});

// The page of recent reports: the filter form, the table and the links to other pages.
struct ReportsQuery {
    ReportFilter filter;
    std::string fromText, toText; // the dates as typed, for the form
    int page = 0;
};
std::string ReportsPage(const ReportsQuery& query, const std::vector<StoredReport>& reports,
                        bool more);

// Per region, for the last 24 hours and the last 7 days.
std::string OverviewPage(const std::map<std::string, RegionOverview>& day,
                         const std::map<std::string, RegionOverview>& week);

// A horizontal bar chart as an inline SVG element: one bar per label, share from 0 to 1.
std::string BarChartSvg(const std::vector<std::pair<std::string, double>>& bars);
