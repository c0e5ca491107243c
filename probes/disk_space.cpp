#include "disk_space.h"

#include "winapi.h"

#include <filesystem>

namespace {

bool FreeBytesOf(const std::string& windowsFolder, std::uint64_t& freeBytes) {
    const std::wstring folder = std::filesystem::u8path(windowsFolder).wstring();
#ifdef _WIN32
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
        return false;
    freeBytes = available.QuadPart;
#else
    unsigned long long available = 0;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
        return false;
    freeBytes = available;
#endif
    return true;
}

} // namespace

// GetDiskFreeSpaceExW fails for a folder that does not exist yet (the downloads folder before
// the first download): its nearest existing parent is on the same drive.
bool FreeBytesForCaller(const std::string& windowsFolder, std::uint64_t& freeBytes) {
    std::string folder = windowsFolder;
    while (!folder.empty()) {
        if (FreeBytesOf(folder, freeBytes))
            return true;
        const std::size_t cut = folder.find_last_of("\\/");
        if (cut == std::string::npos || cut < 3) // "C:\" is as far up as it goes
            return cut != std::string::npos && FreeBytesOf(folder.substr(0, 3), freeBytes);
        folder.erase(cut);
    }
    return false;
}
