#include "disk_space.h"

#include "winapi.h"

#include <filesystem>

bool FreeBytesForCaller(const std::string& windowsFolder, std::uint64_t& freeBytes) {
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
