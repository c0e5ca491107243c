#include "engine/download/download_limits.h"

#include <mutex>

namespace {
std::mutex& LimitsMutex() {
    static std::mutex mutex;
    return mutex;
}
DownloadLimits& Limits() {
    static DownloadLimits limits;
    return limits;
}
} // namespace

DownloadLimits CurrentDownloadLimits() {
    std::lock_guard<std::mutex> lock(LimitsMutex());
    return Limits();
}

void SetDownloadLimits(const DownloadLimits& limits) {
    std::lock_guard<std::mutex> lock(LimitsMutex());
    Limits() = limits;
}
