#include "open_page.h"

#include "alert_link.h"

#include <windows.h>

#include <vector>

int StartBrowser(const std::wstring& browser, const std::wstring& page) {
    std::wstring line = QuoteArgument(browser) + L" " + QuoteArgument(page);
    std::vector<wchar_t> buffer(line.begin(), line.end()); // CreateProcessW may write to it
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(browser.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return 2;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
