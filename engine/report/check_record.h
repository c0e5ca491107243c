#pragma once

#include "engine/driver_entry.h"
#include "engine/report/check_report.h"
#include "engine/server_address.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The facts behind each row's result, read the way its check reads them but on their own:
// they never change a result, write no log record and never throw.
std::vector<CheckFact> DotNetFacts(const nlohmann::json& doc, const std::string& region);
// The IE row's: first whose settings were read, then the four settings.
std::vector<CheckFact> IEFacts();
std::vector<CheckFact> ToolFacts(const nlohmann::json& doc, const std::string& region);
// The CA row's, from what the check of the region's driver list found (nothing is read
// again): every driver entry, also those after the first one that fails, then the SKF
// library. Never throws.
std::vector<CheckFact> CaFacts(const DriverListFindings& found, const std::string& region);

// The registry itself could not be read (Windows error `error`): the fact that explains every
// registry-based row.
CheckFact RegistryStoreFact(long error);

// The network row's facts, one per step of fetching the document.
CheckFact ServerFact(const std::string& ipPort, const ServerAddress* parsed);
CheckFact ResponseFact(const ServerAddress& address, const std::string& url, int status,
                       const std::string& error);
CheckFact DocumentFact(std::size_t bytes, const std::string& parseError);
CheckFact RegionFact(const nlohmann::json& doc, const std::string& region);

// "YYYY-MM-DD HH:MM" in China Standard Time (UTC+8) of a UTC minute.
std::string ChinaMinuteText(int year, int month, int day, int hour, int minute);
