#pragma once

#include "sqlite_db.h"

#include <cstdint>
#include <string>

// Schema version 3, in the caller's transaction: the overview's counters per minute, hour
// and day (overview_counts) and the bytes each address group holds (group_bytes), filled
// once from the reports already stored (the counters from those of the last eight days,
// which is as far back as the overview looks); the per-version rows and hourly counters
// they replace are dropped.
bool MigrateToVersion3(SqliteDb& db, std::int64_t now, std::string& error);
