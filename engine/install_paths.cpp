#include "engine/install_paths.h"

#include "probes/admin_folder.h"
#include "probes/native_path.h"
#include "probes/textconv.h"

#include <chrono>
#include <stdexcept>

namespace fs = std::filesystem;

const char kQueldaDataFolder[] = "C:\\ProgramData\\Quelda";
const char kDownloadsFolder[] = "C:\\ProgramData\\Quelda\\downloads";

// Registry values are GBK. They go through UTF-8 on Windows too: MinGW's std::filesystem
// takes narrow strings byte by byte, not in the ANSI code page.
fs::path InstallDirFromRegistryValue(const std::string& localValue) {
    fs::path p = fs::u8path(ToNativePath(GbkToUtf8(localValue)));
    if (!fs::is_directory(p))
        p = p.parent_path();
    return p;
}

std::string LocalPathText(const fs::path& p) {
    return Utf8ToGbk(p.u8string());
}

std::string LogPathText(const fs::path& p) {
    return p.u8string();
}

fs::path RegionDir(const std::string& regionName) {
    const std::string levels[] = {kQueldaDataFolder, kDownloadsFolder,
                                  std::string(kDownloadsFolder) + "\\" + regionName};
    for (const std::string& level : levels)
        if (MakeAdminOnlyFolder(level) < 0)
            throw std::runtime_error("download folder " + level + " could not be secured");
    return fs::u8path(ToNativePath(levels[2]));
}

namespace {

// A run folder with nothing written for this long is no other copy's download in progress
// (a .part file grows, or is dropped, within the download's low-speed limit).
constexpr auto kRunFolderStaleAge = std::chrono::minutes(3);

bool WrittenSince(const fs::path& folder, fs::file_time_type since) {
    std::error_code ec;
    if (fs::last_write_time(folder, ec) > since)
        return true;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (it->last_write_time(fileEc) > since)
            return true;
    }
    return false;
}

} // namespace

fs::path FreshRunDir(const std::string& regionName) {
    const fs::path region = RegionDir(regionName);
    const fs::file_time_type staleBefore = fs::file_time_type::clock::now() - kRunFolderStaleAge;
    std::error_code ec;
    for (fs::directory_iterator it(region, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (it->path().filename().string().rfind(kFreshFolderPrefix, 0) == 0 &&
            it->is_directory(ignored) && !it->is_symlink(ignored) &&
            !WrittenSince(it->path(), staleBefore))
            fs::remove_all(it->path(), ignored);
    }
    std::string made;
    if (MakeFreshAdminFolder(std::string(kDownloadsFolder) + "\\" + regionName, made) < 0)
        throw std::runtime_error("no new download folder could be made in " + region.string());
    return fs::u8path(ToNativePath(made));
}

void RemoveRunDir(const fs::path& installer) {
    const fs::path folder = installer.parent_path();
    if (folder.filename().string().rfind(kFreshFolderPrefix, 0) != 0)
        return;
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

fs::path SkfDllPath() {
    return fs::u8path(ToNativePath("C:\\Windows\\SysWOW64\\SKFAPI20050.dll"));
}

bool RemoveSkfDll(std::string& error) {
    std::error_code ec;
    const fs::path dll = SkfDllPath();
    const bool present = fs::exists(dll, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    if (!present)
        return true;
    if (fs::remove(dll, ec) && !ec)
        return true;
    error = ec ? ec.message() : "not removed";
    return false;
}

std::string TimeNamedInstaller() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    return std::to_string(seconds) + ".exe";
}
