#include "overview_tally.h"

#include <algorithm>

namespace {

constexpr std::int64_t kMinute = 60, kHour = 3600, kDay = 86400;

using BucketKey = OverviewTally::BucketKey;
using Names = OverviewTally::Names;

bool Failed(const SqliteDb& db, std::string& error) {
    error = db.Error();
    return false;
}

// A name of a group with what it will count: what the table holds plus what is added.
struct Entry {
    std::string name;
    std::int64_t total = 0;
    bool stored = false;
    bool known = false; // kept in the reference bucket (Reference)
};

// The bucket whose names count as known when a bucket is cut back: for a day the day before,
// for a minute or an hour the day it is in. A name that was frequent there stays among equals,
// so that during a flood of made-up names (each seen once) the names bidders' reports share
// are still counted in a new bucket.
BucketKey Reference(const BucketKey& k) {
    if (k.span == kDay)
        return {kDay, k.start - 1, k.region};
    return {kDay, k.start * k.span / kDay, k.region};
}

// Which of a group's names stay: all of them up to twice the bound; past that the most
// frequent `kept` (among equals known names first, then stored ones, so that fresh names do
// not push out those already counted). "其他" always stays and is not among `entries`.
bool MustCut(const std::vector<Entry>& entries, size_t kept) {
    return entries.size() > 2 * kept;
}

std::vector<Entry> Folded(std::vector<Entry>& entries, size_t kept, const Names& known) {
    if (!MustCut(entries, kept))
        return {};
    for (Entry& e : entries)
        e.known = known.count(e.name) != 0;
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
        if (x.total != y.total)
            return x.total > y.total;
        return x.known != y.known ? x.known > y.known : x.stored > y.stored;
    });
    std::vector<Entry> folded(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
    entries.resize(kept);
    return folded;
}

std::vector<Entry> Merge(const Names& stored, const Names& added) {
    std::vector<Entry> entries;
    for (const auto& [name, n] : stored)
        if (name != kOtherName)
            entries.push_back({name, n, true});
    for (const auto& [name, n] : added) {
        if (name == kOtherName)
            continue;
        if (stored.count(name) != 0) {
            for (Entry& e : entries)
                if (e.name == name)
                    e.total += n;
        } else {
            entries.push_back({name, n, false});
        }
    }
    return entries;
}

class BucketWriter {
  public:
    explicit BucketWriter(SqliteDb& db)
        : db_(db),
          names_(db.Cached("SELECT a, b, n FROM overview_counts WHERE span = ? AND start = ? "
                           "AND region = ? AND kind = ? AND (? IS NULL OR a = ?)")),
          dropComponent_(db.Cached("DELETE FROM overview_counts WHERE span = ? AND start = ? AND "
                                   "region = ? AND kind IN (?, ?, ?) AND a = ?")),
          dropVersion_(db.Cached("DELETE FROM overview_counts WHERE span = ? AND start = ? AND "
                                 "region = ? AND kind = ? AND a = ? AND b = ?")),
          add_(db.Cached(
              "INSERT INTO overview_counts VALUES(?,?,?,?,?,?,?) ON CONFLICT(span, start, "
              "region, kind, a, b) DO UPDATE SET n = n + excluded.n")) {}

    bool ok() const { return names_.ok() && dropComponent_.ok() && dropVersion_.ok() && add_.ok(); }

    bool Write(const BucketKey& k, const OverviewTally::Bucket& bucket, std::string& error) {
        for (const auto& [key, n] : bucket.plain)
            if (!Add(k, key.first, key.second, "", n, error))
                return false;
        if (bucket.components.empty())
            return true;
        Names stored, added;
        if (!Read(k, CountKind::Component, nullptr, stored, error))
            return false;
        for (const auto& [component, versions] : bucket.components)
            added[component] = versions.n;
        std::vector<Entry> kept = Merge(stored, added);
        Names known;
        if (MustCut(kept, kKeptComponents) &&
            !Read(Reference(k), CountKind::Component, nullptr, known, error))
            return false;
        std::int64_t other = 0;
        // A component folded away takes its versions along: every version fact counts once
        // in each of the three kinds, so the three "other" counters grow alike.
        for (const Entry& e : Folded(kept, kKeptComponents, known)) {
            other += e.total;
            if (e.stored && !DropComponent(k, e.name, error))
                return false;
        }
        auto otherAdded = bucket.components.find(kOtherName);
        if (otherAdded != bucket.components.end())
            kept.push_back({kOtherName, 0, true});
        for (const Entry& e : kept) {
            auto it = bucket.components.find(e.name);
            if (it == bucket.components.end())
                continue;
            if (!Add(k, CountKind::Component, e.name, "", it->second.n, error) ||
                !WriteVersions(k, CountKind::Expected, e, it->second.expected, error) ||
                !WriteVersions(k, CountKind::Found, e, it->second.found, error))
                return false;
        }
        return other == 0 || (Add(k, CountKind::Component, kOtherName, "", other, error) &&
                              Add(k, CountKind::Expected, kOtherName, kOtherName, other, error) &&
                              Add(k, CountKind::Found, kOtherName, kOtherName, other, error));
    }

  private:
    bool WriteVersions(const BucketKey& k, CountKind kind, const Entry& component,
                       const Names& added, std::string& error) {
        Names stored;
        if (component.stored && !Read(k, kind, &component.name, stored, error))
            return false;
        std::vector<Entry> kept = Merge(stored, added);
        Names known;
        if (MustCut(kept, kKeptVersions) &&
            !Read(Reference(k), kind, &component.name, known, error))
            return false;
        std::int64_t other = 0;
        for (const Entry& e : Folded(kept, kKeptVersions, known)) {
            other += e.total;
            if (e.stored && !DropVersion(k, kind, component.name, e.name, error))
                return false;
        }
        for (const Entry& e : kept) {
            auto it = added.find(e.name);
            if (it != added.end() && !Add(k, kind, component.name, e.name, it->second, error))
                return false;
        }
        auto otherAdded = added.find(kOtherName);
        if (otherAdded != added.end())
            other += otherAdded->second;
        return other == 0 || Add(k, kind, component.name, kOtherName, other, error);
    }

    // The names of a group: the components (component null), or one component's versions.
    bool Read(const BucketKey& k, CountKind kind, const std::string* component, Names& out,
              std::string& error) {
        names_.Reset();
        names_.Bind(1, k.span).Bind(2, k.start).Bind(3, k.region);
        names_.Bind(4, static_cast<std::int64_t>(kind));
        if (component)
            names_.Bind(5, *component).Bind(6, *component);
        else
            names_.BindNull(5).BindNull(6);
        int rc;
        while ((rc = names_.Step()) == SQLITE_ROW)
            out[names_.Text(component ? 1 : 0)] = names_.Int(2);
        return rc == SQLITE_DONE ? true : Failed(db_, error);
    }

    bool DropComponent(const BucketKey& k, const std::string& component, std::string& error) {
        dropComponent_.Reset();
        dropComponent_.Bind(1, k.span).Bind(2, k.start).Bind(3, k.region);
        dropComponent_.Bind(4, static_cast<std::int64_t>(CountKind::Component));
        dropComponent_.Bind(5, static_cast<std::int64_t>(CountKind::Expected));
        dropComponent_.Bind(6, static_cast<std::int64_t>(CountKind::Found)).Bind(7, component);
        return dropComponent_.Step() == SQLITE_DONE ? true : Failed(db_, error);
    }

    bool DropVersion(const BucketKey& k, CountKind kind, const std::string& component,
                     const std::string& version, std::string& error) {
        dropVersion_.Reset();
        dropVersion_.Bind(1, k.span).Bind(2, k.start).Bind(3, k.region);
        dropVersion_.Bind(4, static_cast<std::int64_t>(kind)).Bind(5, component).Bind(6, version);
        return dropVersion_.Step() == SQLITE_DONE ? true : Failed(db_, error);
    }

    bool Add(const BucketKey& k, CountKind kind, const std::string& a, const std::string& b,
             std::int64_t n, std::string& error) {
        add_.Reset();
        add_.Bind(1, k.span).Bind(2, k.start).Bind(3, k.region);
        add_.Bind(4, static_cast<std::int64_t>(kind)).Bind(5, a).Bind(6, b).Bind(7, n);
        return add_.Step() == SQLITE_DONE ? true : Failed(db_, error);
    }

    const SqliteDb& db_;
    Statement &names_, &dropComponent_, &dropVersion_, &add_;
};

} // namespace

std::vector<CountRange> RangesSince(std::int64_t since) {
    const std::int64_t minute = since >= 0 ? since / kMinute : 0;
    const std::int64_t hour = (minute * kMinute + kHour - 1) / kHour;
    const std::int64_t day = (hour * kHour + kDay - 1) / kDay;
    return {{kMinute, minute, hour * (kHour / kMinute)},
            {kHour, hour, day * (kDay / kHour)},
            {kDay, day, INT64_MAX}};
}

void OverviewTally::Add(const ReportDigest& digest, std::int64_t received) {
    for (const CountKey& key : CountKeys(digest))
        Add(key, received, 1);
}

void OverviewTally::Add(const CountKey& key, std::int64_t received, std::int64_t n) {
    for (std::int64_t span : kCountSpans) {
        Bucket& bucket = buckets_[{span, received / span, key.region}];
        switch (key.kind) {
        case CountKind::Component:
            bucket.components[key.a].n += n;
            break;
        case CountKind::Expected:
            bucket.components[key.a].expected[key.b] += n;
            break;
        case CountKind::Found:
            bucket.components[key.a].found[key.b] += n;
            break;
        case CountKind::Version: // no longer counted
            break;
        default:
            bucket.plain[{key.kind, key.a}] += n;
            break;
        }
    }
}

bool OverviewTally::Write(SqliteDb& db, std::string& error) {
    BucketWriter writer(db);
    if (!writer.ok())
        return Failed(db, error);
    for (const auto& [key, bucket] : buckets_)
        if (!writer.Write(key, bucket, error))
            return false;
    buckets_.clear();
    return true;
}
