#include "log_folder.h"

#include "admin_folder.h"
#include "native_path.h"
#include "textconv.h"
#include "winapi.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

const char kSharedLogFolder[] = "C:\\ProgramData\\Quelda\\logs";
const char kInstallKey[] = "SOFTWARE\\Quelda\\EnvCheck";

namespace {

bool IsInstallFolder(const fs::path& workDir) {
    // Where the package writes it: the 32-bit view (the only one on a 32-bit Windows).
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    char installed[MAX_PATH + 1] = {}; // the ANSI code page, as the "A" functions give it
    DWORD size = MAX_PATH;
    DWORD type = REG_NONE;
    const LSTATUS rc = RegQueryValueExA(key, "InstallFolder", nullptr, &type,
                                        reinterpret_cast<LPBYTE>(installed), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ || installed[0] == '\0')
        return false;
    // The package writes "...\Quelda\"; the C runtime's stat, below fs::equivalent on
    // Windows, fails on a folder named with a trailing separator.
    std::string folder = GbkToUtf8(installed);
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    std::error_code ec;
    const bool same = fs::equivalent(workDir, fs::u8path(ToNativePath(folder)), ec);
    return same && !ec;
}

// Whether a file can be made in <workDir>/logs (made when missing); the test file is removed.
bool LogsWritable(const fs::path& workDir) {
    std::error_code ec;
    const fs::path logs = workDir / "logs";
    fs::create_directories(logs, ec);
    if (ec || !fs::is_directory(logs, ec))
        return false;
    const fs::path probe = logs / ".write-test";
    bool written = false;
    {
        std::ofstream out(probe, std::ios::app);
        written = out.is_open() && (out << '\n') && out.flush();
    }
    fs::remove(probe, ec);
    return written;
}

} // namespace

LogFolderChoice ChooseLogFolder(const std::string& workDir) {
    LogFolderChoice choice;
    try {
        const fs::path work = fs::u8path(workDir);
        if (IsInstallFolder(work)) {
            choice.reason = LogFolderReason::kInstallFolder;
        } else if (LogsWritable(work)) {
            choice.folder = (work / "logs").make_preferred().u8string();
            return choice;
        } else {
            choice.reason = LogFolderReason::kNotWritable;
        }
        const std::string shared = kSharedLogFolder;
        if (MakeAdminOnlyFolder(shared.substr(0, shared.rfind('\\'))) > 0 &&
            MakeAdminOnlyFolder(shared) > 0)
            choice.folder = ToNativePath(shared);
    } catch (const std::exception&) {
        choice.folder.clear(); // a path that does not convert: no file log
    }
    return choice;
}
