#include "engine/download/part_files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#ifdef _WIN32
#include <process.h>
#define QUELDA_GETPID _getpid
#else
#include <unistd.h>
#define QUELDA_GETPID getpid
#endif

namespace fs = std::filesystem;

namespace {
constexpr auto kStaleAge = std::chrono::minutes(3);

std::mutex& ActiveMutex() {
    static std::mutex mutex;
    return mutex;
}
std::set<fs::path>& Active() {
    static std::set<fs::path> active;
    return active;
}
std::atomic<bool> aborted{false};

// "<anything>.<digits>-<digits>.part"
bool IsPartName(const std::string& name) {
    const std::string suffix = ".part";
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string stem = name.substr(0, name.size() - suffix.size());
    const std::size_t dot = stem.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string id = stem.substr(dot + 1);
    const std::size_t dash = id.find('-');
    auto digits = [](const std::string& s) {
        return !s.empty() && std::all_of(s.begin(), s.end(),
                                         [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    return dash != std::string::npos && digits(id.substr(0, dash)) && digits(id.substr(dash + 1));
}
} // namespace

fs::path NewPartFile(const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    fs::path part = target;
    part += "." + std::to_string(QUELDA_GETPID()) + "-" + std::to_string(++counter) + ".part";
    std::lock_guard<std::mutex> lock(ActiveMutex());
    Active().insert(part);
    return part;
}

void ForgetPartFile(const fs::path& part) {
    std::lock_guard<std::mutex> lock(ActiveMutex());
    Active().erase(part);
}

void RemoveStalePartFiles(const fs::path& folder) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || !IsPartName(it->path().filename().string()))
            continue;
        {
            std::lock_guard<std::mutex> lock(ActiveMutex());
            if (Active().count(it->path()) != 0)
                continue;
        }
        const auto written = fs::last_write_time(it->path(), fileEc);
        if (!fileEc && now - written > kStaleAge)
            fs::remove(it->path(), fileEc);
    }
}

void AbortDownloads(std::chrono::milliseconds wait) {
    aborted = true;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        std::set<fs::path> left;
        {
            std::lock_guard<std::mutex> lock(ActiveMutex());
            left = Active();
        }
        if (left.empty())
            return;
        if (std::chrono::steady_clock::now() >= deadline) {
            for (const fs::path& part : left) {
                std::error_code ec;
                fs::remove(part, ec);
            }
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool DownloadsAborted() {
    return aborted;
}
