#include "api_env.h"

#include "probes/textconv.h"

#include <fstream>

namespace fs = std::filesystem;

namespace apitest {

const char kScratchKey[] = "Software\\QueldaWinApiTests";

void ApiTest::SetUp() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kScratchKey);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kScratchKey);
}

void ApiTest::TearDown() {
    SetUp();
}

std::string Ansi(const fs::path& path) {
    return Utf8ToGbk(path.u8string());
}

std::string Gbk(const char* utf8) {
    return Utf8ToGbk(utf8);
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

} // namespace apitest
