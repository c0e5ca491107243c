#include "alert_protocol.h"

#include "probes/native_path.h"
#include "probes/registry.h"
#include "probes/textconv.h"

#include <string>
#include <system_error>

namespace fs = std::filesystem;

const char kAlertCommand[] = "\"C:\\Program Files\\alert\\openIE.bat\" \"%1\"";
const char kAlertBatchFile[] = "C:\\Program Files\\alert\\openIE.bat";

namespace {

const char kExecutableName[] = "Quelda运行环境检测工具.exe";
const char kExecutionOptionsKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";

// Writes the string value only when it cannot be read or holds another text.
bool EnsureStrValue(HKEY root, const std::string& subKey, const std::string& name,
                    const std::string& data) {
    std::string current;
    if (RegGetStrValue(root, subKey, name, current) == 0 && current == data)
        return true;
    return RegSetStrValue(root, subKey, name, data) > 0;
}

bool EnsureDpiAwarenessOff() {
    const std::string subKey = kExecutionOptionsKey + Utf8ToGbk(kExecutableName);
    DWORD current = 1;
    if (RegGetDwordValue(HKEY_LOCAL_MACHINE, subKey, "dpiAwareness", current) > 0 && current == 0)
        return true;
    const DWORD zero = 0;
    return RegSetDwordValue(HKEY_LOCAL_MACHINE, subKey, "dpiAwareness", &zero) > 0;
}

bool CopyBatchFileOnce(const fs::path& sourceDir) {
    std::error_code ec;
    const fs::path target = fs::u8path(ToNativePath(kAlertBatchFile));
    if (fs::exists(target, ec))
        return true;
    fs::create_directories(target.parent_path(), ec);
    if (ec)
        return false;
    // copy_options::none fails rather than overwrite a file that appeared meanwhile.
    return fs::copy_file(sourceDir / "openIE.bat", target, fs::copy_options::none, ec) && !ec;
}

} // namespace

bool RegisterAlertUrlProtocol(const fs::path& sourceDir) {
    bool ok = EnsureStrValue(HKEY_CLASSES_ROOT, "alert", "", "URL:Alert Protocol");
    ok = RegSetStrValue(HKEY_CLASSES_ROOT, "alert", "URL Protocol", "") > 0 && ok;
    ok = EnsureStrValue(HKEY_CLASSES_ROOT, "alert\\DefaultIcon", "", "iexplore.exe,1") && ok;
    ok = EnsureDpiAwarenessOff() && ok;
    ok = EnsureStrValue(HKEY_CLASSES_ROOT, "alert\\shell\\open\\command", "", kAlertCommand) && ok;
    ok = CopyBatchFileOnce(sourceDir) && ok;
    return ok;
}
