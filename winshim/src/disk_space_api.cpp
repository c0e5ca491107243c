// GetDiskFreeSpaceExW over the machine folder: statvfs of the folder's native path, or the
// figure that disk-space.ini gives the folder's drive, so that tests can make a drive full.
#include "machine_ansi.h"

#include <winshim/windows.h>

#include <boost/locale/encoding_utf.hpp>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <string>
#include <sys/statvfs.h>

namespace {

constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorInvalidParameter = 87;

// The free bytes disk-space.ini names for a drive letter ("C: = 1048576"); false when the
// file or the drive's line is missing.
bool ConfiguredFreeBytes(char drive, unsigned long long& freeBytes) {
    std::ifstream in(winshim::MachineDir() + "/disk-space.ini");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        const std::size_t equals = line.find('=');
        if (colon != 1 || equals == std::string::npos ||
            std::tolower(static_cast<unsigned char>(line[0])) != std::tolower(drive))
            continue;
        try {
            freeBytes = std::stoull(line.substr(equals + 1));
            return true;
        } catch (...) {
            return false;
        }
    }
    return false;
}

} // namespace

BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, unsigned long long* lpFreeBytesAvailable,
                                unsigned long long* lpTotalNumberOfBytes,
                                unsigned long long* lpTotalNumberOfFreeBytes) {
    if (!lpDirectoryName || !*lpDirectoryName) {
        SetLastError(kErrorInvalidParameter);
        return FALSE;
    }
    const std::string path = boost::locale::conv::utf_to_utf<char>(std::wstring(lpDirectoryName));
    const std::string native = winshim::MapWindowsPath(path);
    struct statvfs fs {};
    if (::statvfs(native.c_str(), &fs) != 0) {
        SetLastError(errno == ENOENT ? kErrorPathNotFound : winshim::WindowsErrorFromErrno(errno));
        return FALSE;
    }
    unsigned long long available = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    unsigned long long free = static_cast<unsigned long long>(fs.f_bfree) * fs.f_frsize;
    const unsigned long long total = static_cast<unsigned long long>(fs.f_blocks) * fs.f_frsize;
    unsigned long long configured = 0;
    if (path.size() >= 2 && path[1] == ':' && ConfiguredFreeBytes(path[0], configured))
        available = free = configured;
    if (lpFreeBytesAvailable)
        *lpFreeBytesAvailable = available;
    if (lpTotalNumberOfBytes)
        *lpTotalNumberOfBytes = total;
    if (lpTotalNumberOfFreeBytes)
        *lpTotalNumberOfFreeBytes = free;
    return TRUE;
}
