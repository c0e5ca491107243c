#pragma once

#include <chrono>
#include <nlohmann/json.hpp>

#include "peak_rss.h"

double SecondsSince(std::chrono::steady_clock::time_point start);

class TempMachine;

// `count` CA components installed in the machine folder (registry value, PE file of the
// matching version and time) and the document's driver entries that describe them.
nlohmann::json InstallDrivers(const TempMachine& machine, int count);

// A shanxi section with a framework and a tool entry and the given drivers.
nlohmann::json BenchDocument(const nlohmann::json& drivers);
