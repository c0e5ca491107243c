// FindFirstFileA / FindClose over the machine folder's drives.
#include "files_match.h"
#include "machine_ansi.h"
#include "machine_handles.h"
#include "time_filetime.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace winshim {

namespace {

// A search handle. Only the first match is ever asked for, so it keeps no listing.
struct FindObject : HandleObject {};

// "X:\name" or "X:name": a search directly in a drive's root, where Windows lists no
// "." and ".." entries.
bool IsDriveRootSearch(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':')
        return false;
    const size_t last = windowsPath.find_last_of("\\/");
    if (last == std::string::npos)
        return true;
    return windowsPath.find_first_not_of("\\/", 2) > last;
}

FILETIME CreationTime(const std::string& path, const struct stat& st) {
    struct statx stx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME))
        return FileTimeFromUnix(stx.stx_btime.tv_sec, static_cast<long>(stx.stx_btime.tv_nsec));
    return FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

bool FillFindData(const std::string& path, const std::string& name, WIN32_FIND_DATAA* data) {
    const std::string ansiName = Utf8ToAnsiText(name);
    if (ansiName.empty() || ansiName.size() >= MAX_PATH)
        return false;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0)
        return false;

    std::memset(data, 0, sizeof *data);
    if (S_ISDIR(st.st_mode))
        data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    else
        data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR))
        data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    data->ftCreationTime = CreationTime(path, st);
    data->ftLastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    data->ftLastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    if (!S_ISDIR(st.st_mode)) {
        const auto size = static_cast<uint64_t>(st.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
    }
    std::memcpy(data->cFileName, ansiName.data(), ansiName.size());
    return true;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = readdir(d))
        names.emplace_back(e->d_name);
    closedir(d);
    return names;
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Windows lists "." and ".." first, then in NTFS order (names compared upper-cased).
bool ListingOrder(const std::string& a, const std::string& b) {
    const int ra = a == "." ? 0 : a == ".." ? 1 : 2;
    const int rb = b == "." ? 0 : b == ".." ? 1 : 2;
    if (ra != rb)
        return ra < rb;
    return Upper(a) < Upper(b) || (Upper(a) == Upper(b) && a < b);
}

HANDLE FailedFind(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

} // namespace

} // namespace winshim

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    using namespace winshim;
    if (!lpFileName || !lpFindFileData)
        return FailedFind(ERROR_INVALID_PARAMETER);
    const std::string windowsPath = AnsiToUtf8Text(lpFileName);
    const std::string native = MapWindowsPath(windowsPath);
    if (native.empty())
        return FailedFind(ERROR_PATH_NOT_FOUND);

    const size_t slash = native.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
    const std::string pattern = slash == std::string::npos ? native : native.substr(slash + 1);
    // "C:\dir\" names no file: Windows fails it rather than listing the folder.
    if (pattern.empty())
        return FailedFind(ERROR_FILE_NOT_FOUND);

    struct stat dirStat;
    if (stat(dir.c_str(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode))
        return FailedFind(ERROR_PATH_NOT_FOUND);

    std::vector<std::string> candidates;
    if (!HasWildcard(pattern)) {
        struct stat st;
        if (lstat(native.c_str(), &st) == 0) {
            candidates.push_back(pattern);
        } else {
            // NTFS names are case-insensitive: "KERNEL32.DLL" finds "kernel32.dll".
            for (const std::string& name : ListDirectory(dir))
                if (SameFileName(name, pattern))
                    candidates.push_back(name);
        }
    } else {
        const bool driveRoot = IsDriveRootSearch(windowsPath);
        for (const std::string& name : ListDirectory(dir)) {
            if (driveRoot && (name == "." || name == ".."))
                continue;
            if (MatchFileName(pattern, name))
                candidates.push_back(name);
        }
    }
    std::sort(candidates.begin(), candidates.end(), ListingOrder);

    for (const std::string& name : candidates) {
        const std::string path = dir == "/" ? "/" + name : dir + "/" + name;
        if (FillFindData(path, name, lpFindFileData)) {
            SetLastError(ERROR_SUCCESS);
            return AddHandle(std::make_shared<FindObject>());
        }
    }
    return FailedFind(ERROR_FILE_NOT_FOUND);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!winshim::RemoveHandle<winshim::FindObject>(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
