#include "storage_share.h"

#include <algorithm>

namespace {

// A stored report's row, its index entries and its counters beyond its text.
constexpr std::int64_t kRowOverhead = 256;

} // namespace

std::int64_t GroupShare(std::int64_t quota, std::int64_t used) {
    return std::max(quota / 256, std::max<std::int64_t>(quota - used, 0) / 8);
}

std::int64_t ReportBytes(const std::string& body, const std::string& address) {
    return static_cast<std::int64_t>(body.size() + address.size()) + kRowOverhead;
}
