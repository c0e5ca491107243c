#pragma once

#include <chrono>
#include <cstdint>

// The time limits and the retries of the installer download. The defaults are the
// product's; tests set shorter ones.
struct DownloadLimits {
    std::chrono::milliseconds connectTimeout{10000};
    // The longest wait for the next piece of an answer.
    std::chrono::milliseconds readTimeout{5000};
    // A download whose rate stays below lowSpeedBytesPerSecond for lowSpeedTime fails
    // like a time-out (as curl's --speed-limit/--speed-time).
    std::uint64_t lowSpeedBytesPerSecond = 1024;
    std::chrono::milliseconds lowSpeedTime{60000};
    // Further attempts after a connection error or a time-out, and the pause before each.
    int retries = 2;
    std::chrono::milliseconds retryDelay{1000};
    // The largest installer whose entry names no `size` (config.json may change it), and
    // the free space a download leaves on its drive beyond its own length.
    std::uint64_t installerMaxBytes = std::uint64_t(2048) << 20;
    std::uint64_t diskMargin = std::uint64_t(64) << 20;
};

DownloadLimits CurrentDownloadLimits();
void SetDownloadLimits(const DownloadLimits& limits);
