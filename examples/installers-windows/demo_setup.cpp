// A demo installer for Windows, built once per product (QUELDA_DEMO_PRODUCT names it). It
// installs as a real installer does: files with version resources and times under
// C:\Program Files, and the install location in HKEY_LOCAL_MACHINE, in the registry views
// its kind writes on a 64-bit Windows: the .NET Framework in both, the 32-bit vendors'
// products with no view flag (WOW6432Node). Each run appends one line to C:\installs.log,
// so that a test can count the installs. A test chooses the exit code of a run with the
// first line of C:\installer-exit-codes.txt, which the run takes away (no line: 0): with
// 3010 or 1641 it installs and asks for a restart, with any other code but 0 it installs
// nothing. Every run notes its arguments in C:\installer-args.log ("<product> args:<arguments>").
#include "pewriter.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct File {
    const wchar_t* name;
    const char* version;
    // Last-write time in UTC, as the vendor's build left it; zero year: the time of install.
    SYSTEMTIME utc;
    bool dll;
};

struct RegistryValue {
    const wchar_t* key;  // under HKEY_LOCAL_MACHINE
    const wchar_t* name; // nullptr: the key's default value
    DWORD type;
    const wchar_t* text; // REG_SZ
    DWORD number;        // REG_DWORD
};

// The views a product's values are written in: none named (this 32-bit program's own view),
// or both views of a 64-bit Windows (a 32-bit one ignores the flags).
const std::vector<REGSAM> kOwnView = {0};
const std::vector<REGSAM> kBothViews = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

struct Product {
    const char* id;
    const wchar_t* dir; // nullptr: no files
    std::vector<File> files;
    const char* configVersion; // the bidding tool's application configuration file
    std::vector<RegistryValue> values;
    const char* logLine;
    std::vector<REGSAM> views = kOwnView;
};

SYSTEMTIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
    SYSTEMTIME t{};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    return t;
}

std::vector<Product> Products() {
    return {
        {"dotnetfx40",
         nullptr,
         {},
         nullptr,
         {{L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", L"Install", REG_DWORD,
           nullptr, 1},
          {L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", L"Version", REG_SZ,
           L"4.0.30319", 0},
          {L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", L"Release", REG_DWORD,
           nullptr, 30319}},
         "dotnetfx40 4.0.30319",
         kBothViews},
        {"bidtool",
         L"C:\\Program Files\\Quelda\\BidTool",
         {},
         "3.2.1.0",
         {{L"SOFTWARE\\Quelda\\BidTool", L"InstallPath", REG_SZ,
           L"C:\\Program Files\\Quelda\\BidTool", 0},
          {L"SOFTWARE\\Quelda\\BidTool", L"Version", REG_SZ, L"3.2.1.0", 0}},
         "bidtool 3.2.1.0"},
        {"qdca-driver",
         L"C:\\Program Files\\Quelda\\CaDriver",
         {{L"QdCaDriver.dll", "2.1.0.8", Utc(2024, 3, 15, 2, 20), true}},
         nullptr,
         {{L"SOFTWARE\\Quelda\\CaDriver", L"InstallPath", REG_SZ,
           L"C:\\Program Files\\Quelda\\CaDriver", 0}},
         "QdCaDriver.dll 2.1.0.8"},
        {"qdskf-middleware",
         L"C:\\Program Files\\Quelda\\SkfMiddleware",
         {{L"QdSkfApi.dll", "1.6.3.2", Utc(2024, 1, 8, 8, 45), true},
          {L"QdSkfMgr.exe", "1.6.3.2", {}, false}},
         nullptr,
         {{L"SOFTWARE\\Quelda\\SkfMiddleware", L"InstallDir", REG_SZ,
           L"C:\\Program Files\\Quelda\\SkfMiddleware\\QdSkfMgr.exe", 0}},
         "QdSkfApi.dll 1.6.3.2"},
        {"nmca-keydriver",
         L"C:\\Program Files (x86)\\NmCA\\KeyDriver",
         {{L"NmCaKey.dll", "3.0.1.12", Utc(2023, 11, 20, 1, 5), true},
          {L"NmKeyMgr.exe", "3.0.1.12", {}, false}},
         nullptr,
         // This vendor writes the quoted path of its key manager as the default value.
         {{L"SOFTWARE\\NmCA\\KeyDriver", nullptr, REG_SZ,
           L"\"C:\\Program Files (x86)\\NmCA\\KeyDriver\\NmKeyMgr.exe\"", 0}},
         "NmCaKey.dll 3.0.1.12"},
    };
}

bool MakeDirs(const std::wstring& dir) {
    for (size_t i = 3; i <= dir.size(); ++i) { // past "C:\"
        if (i == dir.size() || dir[i] == L'\\') {
            const std::wstring part = dir.substr(0, i);
            if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    return true;
}

bool WriteBytes(const std::wstring& path, const void* data, DWORD size, const SYSTEMTIME* utc) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(h, data, size, &written, nullptr) && written == size;
    if (ok && utc && utc->wYear != 0) {
        FILETIME ft;
        ok = SystemTimeToFileTime(utc, &ft) && SetFileTime(h, nullptr, nullptr, &ft);
    }
    return CloseHandle(h) && ok;
}

bool InstallFile(const std::wstring& dir, const File& file) {
    pewriter::FourPartVersion v;
    if (!pewriter::ParseVersion(file.version, v))
        return false;
    pewriter::ImageSpec imageSpec;
    imageSpec.dll = file.dll;
    imageSpec.version = pewriter::MakeVersionResource(v);
    const std::vector<uint8_t> image = pewriter::BuildImage(imageSpec);
    return WriteBytes(dir + L"\\" + file.name, image.data(), static_cast<DWORD>(image.size()),
                      &file.utc);
}

bool WriteAppConfig(const std::wstring& dir, const char* version) {
    const std::string xml = std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                        "<configuration>\r\n"
                                        "  <startup>\r\n"
                                        "    <supportedRuntime version=\"v4.0\" "
                                        "sku=\".NETFramework,Version=v4.0\" />\r\n"
                                        "  </startup>\r\n"
                                        "  <appSettings>\r\n"
                                        "    <add key=\"ServiceUrl\" "
                                        "value=\"https://bid.quelda.example/\" />\r\n"
                                        "    <add key=\"Version\" value=\"") +
                            version + "\" />\r\n  </appSettings>\r\n</configuration>\r\n";
    return WriteBytes(dir + L"\\QueldaBid.exe.config", xml.data(), static_cast<DWORD>(xml.size()),
                      nullptr);
}

bool SetValue(const RegistryValue& value, REGSAM view) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, value.key, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc;
    if (value.type == REG_DWORD) {
        rc = RegSetValueExW(key, value.name, 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD));
    } else {
        const DWORD bytes = static_cast<DWORD>((wcslen(value.text) + 1) * sizeof(wchar_t));
        rc = RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text),
                            bytes);
    }
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool AppendLog(const char* line, const wchar_t* file = L"C:\\installs.log") {
    HANDLE h = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const std::string text = std::string(line) + "\r\n";
    DWORD written = 0;
    const bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return CloseHandle(h) && ok;
}

// The first line of the exit codes file, taken away; 0 when there is none.
DWORD ChosenExitCode() {
    const wchar_t* file = L"C:\\installer-exit-codes.txt";
    HANDLE h = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    std::string text;
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    const size_t end = text.find('\n');
    std::string line = text.substr(0, end);
    const std::string rest = end == std::string::npos ? std::string() : text.substr(end + 1);
    DWORD written = 0;
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    WriteFile(h, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr);
    SetEndOfFile(h);
    CloseHandle(h);
    DWORD code = 0;
    for (char c : line) {
        if (c < '0' || c > '9')
            break;
        code = code * 10 + static_cast<DWORD>(c - '0');
    }
    return code;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
    AppendLog((std::string(QUELDA_DEMO_PRODUCT) + " args:" + (arguments ? arguments : "")).c_str(),
              L"C:\\installer-args.log");
    const DWORD chosen = ChosenExitCode();
    if (chosen != 0 && chosen != ERROR_SUCCESS_REBOOT_REQUIRED &&
        chosen != ERROR_SUCCESS_REBOOT_INITIATED)
        return static_cast<int>(chosen);
    for (const Product& p : Products()) {
        if (std::string(p.id) != QUELDA_DEMO_PRODUCT)
            continue;
        if (p.dir) {
            if (!MakeDirs(p.dir))
                return 2;
            for (const File& f : p.files)
                if (!InstallFile(p.dir, f))
                    return 3;
            if (p.configVersion && !WriteAppConfig(p.dir, p.configVersion))
                return 4;
        }
        for (REGSAM view : p.views)
            for (const RegistryValue& v : p.values)
                if (!SetValue(v, view))
                    return 5;
        return AppendLog(p.logLine) ? static_cast<int>(chosen) : 6;
    }
    return 1;
}
