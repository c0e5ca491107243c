// The "alert:" URL protocol handler: opens the link's http(s) page in Internet Explorer.
// Registered as  "C:\Program Files\alert\openAlertLink.exe" "%1".
#include "open_page.h"

#include <windows.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

#ifdef ALERT_LINK_TEST_BROWSER
// The test build starts the program that the test names instead of a browser.
std::wstring Browser() {
    return Environment(L"ALERT_LINK_TEST_BROWSER");
}
#else
std::wstring Browser() {
    for (const wchar_t* folder : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
        const std::wstring base = Environment(folder);
        if (base.empty())
            continue;
        const std::wstring exe = base + L"\\Internet Explorer\\iexplore.exe";
        if (GetFileAttributesW(exe.c_str()) != INVALID_FILE_ATTRIBUTES)
            return exe;
    }
    return std::wstring();
}
#endif

} // namespace

int main() {
    const std::wstring browser = Browser();
    if (browser.empty())
        return 2;
    return OpenAlertLink(GetCommandLineW(), browser);
}
