#include "alert_protocol.h"

#include "probes/native_path.h"
#include "probes/registry.h"
#include "probes/textconv.h"

#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

const char kAlertCommand[] = "\"C:\\Program Files\\alert\\openAlertLink.exe\" \"%1\"";
const char kAlertHandlerFile[] = "C:\\Program Files\\alert\\openAlertLink.exe";
const char kAlertBatchFile[] = "C:\\Program Files\\alert\\openIE.bat";
const char kAlertHandlerName[] = "openAlertLink.exe";

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

std::string FileContent(const fs::path& file, bool& ok) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ok = in.is_open() && !in.bad();
    return text.str();
}

// Copies `source` to the Windows path `windowsTarget`. An existing target is kept, unless
// `replaceDifferent` and its content differs (a newer handler replaces an older one).
bool CopyBeside(const fs::path& source, const char* windowsTarget, bool replaceDifferent) {
    std::error_code ec;
    const fs::path target = fs::u8path(ToNativePath(windowsTarget));
    if (fs::exists(target, ec)) {
        if (!replaceDifferent)
            return true;
        bool sourceRead = false, targetRead = false;
        const std::string wanted = FileContent(source, sourceRead);
        if (sourceRead && FileContent(target, targetRead) == wanted && targetRead)
            return true;
        return sourceRead &&
               fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec) && !ec;
    }
    fs::create_directories(target.parent_path(), ec);
    if (ec)
        return false;
    // copy_options::none fails rather than overwrite a file that appeared meanwhile.
    return fs::copy_file(source, target, fs::copy_options::none, ec) && !ec;
}

} // namespace

bool RegisterAlertUrlProtocol(const fs::path& sourceDir) {
    bool ok = EnsureStrValue(HKEY_CLASSES_ROOT, "alert", "", "URL:Alert Protocol");
    ok = RegSetStrValue(HKEY_CLASSES_ROOT, "alert", "URL Protocol", "") > 0 && ok;
    ok = EnsureStrValue(HKEY_CLASSES_ROOT, "alert\\DefaultIcon", "", "iexplore.exe,1") && ok;
    ok = EnsureDpiAwarenessOff() && ok;
    ok = EnsureStrValue(HKEY_CLASSES_ROOT, "alert\\shell\\open\\command", "", kAlertCommand) && ok;
    ok = CopyBeside(sourceDir / kAlertHandlerName, kAlertHandlerFile, true) && ok;
    ok = CopyBeside(sourceDir / "openIE.bat", kAlertBatchFile, false) && ok;
    return ok;
}
