// The "alert:" URL protocol handler: opens the link's page, when its host is the portal's or
// one of the site list's, in Internet Explorer, or where Windows has retired IE in Microsoft
// Edge, which opens the site list's hosts in its IE mode.
// Registered as  "C:\Program Files\alert\openAlertLink.exe" "%1".
#include "alert_link.h"
#include "open_page.h"

#include "app/windows/dll_search.h"
#include "probes/edge_install.h"
#include "probes/ie_settings.h"
#include "probes/iemode_site_list.h"
#include "probes/windows_edition.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

#ifndef ALERT_LINK_TEST_BROWSER
std::wstring FromUtf8(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::wstring InternetExplorer() {
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
    RestrictDllSearch();
    std::vector<std::string> hosts = {kPortalDomain};
    SiteList list;
    // Only a list in a folder and file that Administrators (or SYSTEM) own names hosts.
    if (SiteListTrusted(kSiteListPath) && ReadSiteList(kSiteListPath, list))
        hosts.insert(hosts.end(), list.hosts.begin(), list.hosts.end());
    std::wstring page;
    if (!AllowedPageOf(GetCommandLineW(), hosts, page))
        return 1;

#ifdef ALERT_LINK_TEST_BROWSER
    // The test build starts the program that the test names instead of a browser.
    const std::wstring browser = Environment(L"ALERT_LINK_TEST_BROWSER");
#else
    std::wstring browser;
    if (IERetired(ReadWindowsEdition())) {
        const EdgeInstall edge = ReadEdgeInstall();
        if (!edge.found) {
            MessageBoxW(
                nullptr,
                L"此电脑的 Windows 已停用 Internet Explorer，交易平台需要在 Microsoft Edge "
                L"的 IE 模式中打开，但未找到 Microsoft Edge。\n请安装 Microsoft Edge 后重试。",
                L"Quelda运行环境检测工具", MB_OK | MB_ICONWARNING);
            return 3;
        }
        browser = FromUtf8(edge.path);
    } else {
        browser = InternetExplorer();
    }
#endif
    if (browser.empty())
        return 2;
    return StartBrowser(browser, page);
}
