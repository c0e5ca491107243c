#pragma once

#include "overview_counts.h"
#include "sqlite_db.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

// The spans (seconds) the overview's counters are kept in: a minute, an hour, a day.
constexpr std::int64_t kCountSpans[] = {60, 3600, 86400};

// Counters of one span from bucket `from` (the bucket's start / span) up to `to` (excluded).
struct CountRange {
    std::int64_t span = 0;
    std::int64_t from = 0;
    std::int64_t to = 0;
};

// The buckets that make up the period from `since` until now: minutes up to the next whole
// hour, hours up to the next whole day, then days. The minute `since` falls in is counted
// whole. At most 59 + 23 + 8 buckets, whatever the period's length.
std::vector<CountRange> RangesSince(std::int64_t since);

// Adds reports to the overview's counters (table overview_counts) in the caller's
// transaction, for every span, and keeps each group of names within its bound (see
// overview_counts.h). What is added is summed in memory first and each group is bounded
// before it is written: a batch of like reports writes each counter once, and names that are
// folded away are never written.
class OverviewTally {
  public:
    void Add(const ReportDigest& digest, std::int64_t received);
    void Add(const CountKey& key, std::int64_t received, std::int64_t n);
    // Writes what was added, and forgets it; false with `error` when SQLite fails.
    bool Write(SqliteDb& db, std::string& error);

    // One bucket's counters: of one span, one start, one region.
    struct BucketKey {
        std::int64_t span = 0, start = 0;
        std::string region;
        bool operator<(const BucketKey& o) const {
            return std::tie(span, start, region) < std::tie(o.span, o.start, o.region);
        }
    };
    using Names = std::map<std::string, std::int64_t>;
    struct Versions {
        std::int64_t n = 0;
        Names expected, found;
    };
    struct Bucket {
        std::map<std::pair<CountKind, std::string>, std::int64_t> plain;
        std::map<std::string, Versions> components;
    };

  private:
    std::map<BucketKey, Bucket> buckets_;
};
