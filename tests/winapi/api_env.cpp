#include "api_env.h"

#include "probes/textconv.h"

#include <fstream>

namespace fs = std::filesystem;

namespace apitest {

const char kScratchKey[] = "Software\\QueldaWinApiTests";

namespace {
void DeleteScratchKey() {
#ifdef _WIN32
    RegDeleteTreeA(HKEY_CURRENT_USER, kScratchKey);
#endif
}
} // namespace

void ApiTest::SetUp() {
    DeleteScratchKey();
}

void ApiTest::TearDown() {
    DeleteScratchKey();
}

std::string Ansi(const fs::path& path) {
    return Utf8ToGbk(path.u8string());
}

std::string Gbk(const char* utf8) {
    return Utf8ToGbk(utf8);
}

HKEY CreateKey(HKEY root, const std::string& subKey, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << subKey;
    return key;
}

LONG SetValue(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
}

Query QueryValue(HKEY key, const char* name) {
    Query q;
    DWORD size = 0;
    q.rc = RegQueryValueExA(key, name, nullptr, &q.type, nullptr, &size);
    if (q.rc != ERROR_SUCCESS)
        return q;
    std::string buf(size, '\0');
    q.rc = RegQueryValueExA(key, name, nullptr, &q.type, reinterpret_cast<BYTE*>(&buf[0]), &size);
    q.data = buf.substr(0, size);
    return q;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << file.u8string();
}

void WriteFile(const fs::path& file, const std::vector<uint8_t>& bytes) {
    WriteFile(file, std::string(bytes.begin(), bytes.end()));
}

fs::path WriteInstaller(const fs::path& dir, const std::string& nameUtf8, int exitCode,
                        const fs::path& gate) {
#ifdef _WIN32
    const fs::path file = dir / fs::u8path(nameUtf8 + ".cmd");
    std::string text = "@echo off\r\n";
    if (!gate.empty())
        text += ":wait\r\nif not exist \"" + gate.string() + "\" goto wait\r\n";
    text += "exit " + std::to_string(exitCode) + "\r\n";
#else
    const fs::path file = dir / fs::u8path(nameUtf8);
    std::string text = "#!/bin/sh\n";
    if (!gate.empty())
        text += "while [ ! -e '" + gate.string() + "' ]; do sleep 0.02; done\n";
    text += "exit " + std::to_string(exitCode) + "\n";
#endif
    WriteFile(file, text);
    return file;
}

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace apitest
