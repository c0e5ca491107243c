// Stands in for the browser in the handler's launch tests: writes the arguments it got
// (as the Windows parser splits its command line), one per line in UTF-16, to the file
// that ALERT_LINK_TEST_RECORD names. Written beside and renamed, so a reader sees all or
// nothing.
#include <windows.h>

#include <shellapi.h>

#include <string>

int main() {
    wchar_t target[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"ALERT_LINK_TEST_RECORD", target, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 3;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 3;
    std::wstring text;
    for (int i = 1; i < argc; ++i)
        text += std::wstring(argv[i]) + L"\n";
    LocalFree(argv);

    const std::wstring partial = std::wstring(target) + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const BOOL ok = WriteFile(file, text.data(), size, &written, nullptr);
    CloseHandle(file);
    if (!ok || written != size || !MoveFileExW(partial.c_str(), target, MOVEFILE_REPLACE_EXISTING))
        return 3;
    return 0;
}
