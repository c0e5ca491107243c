// Helpers for the Windows API checks, written against the Windows API only.
#pragma once

#include "probes/winapi.h"
#include "registry_calls.h"
#include "temp_machine.h"
#include "windows_test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace apitest {

// The key every registry check works under, under HKEY_CURRENT_USER (HKEY_LOCAL_MACHINE
// for the registry views).
extern const char kScratchKey[];

// A fresh machine folder, and on Windows emptied scratch keys before and after.
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

void WriteFile(const std::filesystem::path& file, const std::string& bytes);
void WriteFile(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);

// An "installer" that ends with exitCode, once the file `gate` exists when one is given.
// A batch file on Windows, a shell script elsewhere (without its run bit, as Windows needs
// none). Returns its path.
std::filesystem::path WriteInstaller(const std::filesystem::path& dir, const std::string& nameUtf8,
                                     int exitCode, const std::filesystem::path& gate = {});

} // namespace apitest
