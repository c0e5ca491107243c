// The handler program itself, started as Windows starts it for a link, with a recorder in
// place of the browser.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring BinDir() {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs a command line to its end; its exit code, or -1 when it did not start.
long RunToEnd(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

// The recorder's file, once it is there (the handler does not wait for its browser).
bool ReadRecord(const std::wstring& path, std::wstring& text, DWORD waitMs) {
    for (DWORD waited = 0; !Exists(path); waited += 50) {
        if (waited >= waitMs)
            return false;
        Sleep(50);
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    wchar_t buffer[4096];
    DWORD read = 0;
    ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(file);
    text.assign(buffer, read / sizeof(wchar_t));
    return true;
}

class AlertLinkLaunch : public ::testing::Test {
  protected:
    void SetUp() override {
        record_ = BinDir() + L"alertlink-record.txt";
        DeleteFileW(record_.c_str());
        DeleteFileW(kPwned);
        SetEnvironmentVariableW(L"ALERT_LINK_TEST_BROWSER",
                                (BinDir() + L"alertlink_record_args.exe").c_str());
        SetEnvironmentVariableW(L"ALERT_LINK_TEST_RECORD", record_.c_str());
    }
    void TearDown() override { DeleteFileW(record_.c_str()); }

    // Starts the handler the way the registered command  "<handler>" "%1"  does.
    long OpenLink(const std::wstring& link) {
        return RunToEnd(L"\"" + BinDir() + L"openAlertLink_testbrowser.exe\" \"" + link + L"\"");
    }

    static constexpr const wchar_t* kPwned = L"C:\\pwn.txt";
    std::wstring record_;
};

TEST_F(AlertLinkLaunch, InjectedCommandsNeverRun) {
    const wchar_t* payloads[] = {
        L"alert:http://x/\"&echo X>C:\\pwn.txt&\"",
        L"alert:http://x/\" & echo X>C:\\pwn.txt & rem \"",
        L"alert:http://x/\"&echo X>C:\\pwn.txt",
        L"alert:http://x/%%\"&echo X>C:\\pwn.txt&\"",
        L"alert:http://x/\"\"&echo X>C:\\pwn.txt&\"\"",
        L"alert:http://evil.example/",                 // not the portal, not in the site list
        L"alert:http://ebid.quelda.com@evil.example/", // the portal's name as user information
    };
    for (const wchar_t* link : payloads) {
        EXPECT_EQ(OpenLink(link), 1);
        std::wstring text;
        EXPECT_FALSE(ReadRecord(record_, text, 500)) << "the browser started";
        EXPECT_FALSE(Exists(kPwned));
    }
}

TEST_F(AlertLinkLaunch, ValidLinksOpenAsOneArgument) {
    const std::pair<const wchar_t*, const wchar_t*> links[] = {
        {L"alert:http://ebid.quelda.com/p?a=1&b=2|x", L"http://ebid.quelda.com/p?a=1&b=2|x"},
        {L"alert:https://Sign.EBID.quelda.com/a b\\", L"https://Sign.EBID.quelda.com/a b\\"},
    };
    for (const auto& [link, page] : links) {
        DeleteFileW(record_.c_str());
        ASSERT_EQ(OpenLink(link), 0);
        std::wstring text;
        ASSERT_TRUE(ReadRecord(record_, text, 20000));
        EXPECT_EQ(text, std::wstring(page) + L"\n");
    }
}

TEST_F(AlertLinkLaunch, MissingBrowserIsAnError) {
    SetEnvironmentVariableW(L"ALERT_LINK_TEST_BROWSER",
                            (BinDir() + L"no-such-browser.exe").c_str());
    EXPECT_EQ(OpenLink(L"alert:http://ebid.quelda.com/"), 2);
}

} // namespace
