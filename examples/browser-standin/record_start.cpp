// Stands in for a browser: each start appends one line to "<own path without .exe>-starts.txt"
// (beside the program, so copies under other names keep separate records), in UTF-8 as a
// JSON object: the program's path, its command line exactly as received, and the arguments
// as the Windows parser splits them, with their count (the program name not counted).
// Exit status 0 when the record was written, 3 otherwise.
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::string JsonString(const std::wstring& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : Utf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

int main() {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 3;
    std::wstring program(self, length);
    std::wstring target = program;
    const size_t dot = target.find_last_of(L'.');
    if (dot != std::wstring::npos && target.find_first_of(L"\\/", dot) == std::wstring::npos)
        target.erase(dot);
    target += L"-starts.txt";

    const std::wstring commandLine = GetCommandLineW();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &argc);
    if (!argv)
        return 3;
    std::string args;
    for (int i = 1; i < argc; ++i)
        args += (i > 1 ? "," : "") + JsonString(argv[i]);
    LocalFree(argv);
    const std::string line =
        "{\"program\":" + JsonString(program) + ",\"commandLine\":" + JsonString(commandLine) +
        ",\"count\":" + std::to_string(argc - 1) + ",\"args\":[" + args + "]}\n";

    // One write in append mode: records of starts at the same moment do not mix.
    const HANDLE file =
        CreateFileW(target.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == line.size() ? 0 : 3;
}
