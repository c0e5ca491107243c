#pragma once

#include "engine/report/check_report.h"
#include "engine/server_address.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The facts behind each row's result, read the way its check reads them but on their own:
// they never change a result, write no log record and never throw. Every driver entry is
// looked at, also those after the first one that fails.
std::vector<CheckFact> DotNetFacts(const nlohmann::json& doc, const std::string& region);
// The IE row's: first whose settings were read, then the four settings.
std::vector<CheckFact> IEFacts();
std::vector<CheckFact> ToolFacts(const nlohmann::json& doc, const std::string& region);
std::vector<CheckFact> CaFacts(const nlohmann::json& doc, const std::string& region);

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
