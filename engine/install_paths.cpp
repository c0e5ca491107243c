#include "engine/install_paths.h"

#include "probes/native_path.h"
#include "probes/textconv.h"

#include <chrono>

namespace fs = std::filesystem;

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
    return fs::current_path() / fs::u8path(regionName);
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
