#pragma once

#include <winshim/windows.h>

#include <cstdint>

namespace winshim {

// 100-ns intervals between 1601-01-01 and 1970-01-01 (both UTC).
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

// A Unix time (seconds and nanoseconds since 1970, UTC) as a FILETIME. Times before 1601
// become 0.
FILETIME FileTimeFromUnix(int64_t seconds, long nanoseconds);

} // namespace winshim
