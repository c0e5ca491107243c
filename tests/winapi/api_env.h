// Helpers for the Windows API checks, written against the Windows API only.
#pragma once

#include "probes/winapi.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace apitest {

// The key every registry check works under, under HKEY_CURRENT_USER.
extern const char kScratchKey[];

// A fresh machine folder, and on Windows an emptied scratch key before and after.
class ApiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    TempMachine machine;
};

// A native path as the "A" functions take it: GBK bytes.
std::string Ansi(const std::filesystem::path& path);
// UTF-8 text as GBK bytes.
std::string Gbk(const char* utf8);

HKEY CreateKey(HKEY root, const std::string& subKey, REGSAM access = KEY_READ | KEY_WRITE);
LONG SetValue(HKEY key, const char* name, DWORD type, const std::string& bytes);

// Type and bytes of a value as RegQueryValueExA returns them (size asked first).
struct Query {
    LONG rc = -1;
    DWORD type = REG_NONE;
    std::string data;
};
Query QueryValue(HKEY key, const char* name);

void WriteFile(const std::filesystem::path& file, const std::string& bytes);
void WriteFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);

// An "installer" that ends with exitCode, once the file `gate` exists when one is given.
// A batch file on Windows, a shell script elsewhere (without its run bit, as Windows needs
// none). Returns its path.
std::filesystem::path WriteInstaller(const std::filesystem::path& dir, const std::string& nameUtf8,
                                     int exitCode, const std::filesystem::path& gate = {});

bool RunningUnderWine();

} // namespace apitest
