// Helpers for the probe tests, written against the Windows API only.
#pragma once

#include "probes/winapi.h"
#include "windows_test_env.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace probetest {

// Registry values set up and read back through the Windows API itself.
void MakeKey(HKEY root, const std::string& subKey);
void PutValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
              const void* data, DWORD size);
void PutDword(HKEY root, const std::string& subKey, const std::string& name, DWORD value);
// REG_SZ; the size counts the terminating NUL.
void PutString(HKEY root, const std::string& subKey, const std::string& name,
               const std::string& text);

struct RawValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
RawValue ReadValue(HKEY root, const std::string& subKey, const std::string& name);
bool KeyExists(HKEY root, const std::string& subKey);
std::vector<BYTE> DwordBytes(DWORD value);

// Sets a file's last-write time to the given Unix time (seconds, UTC).
bool SetLastWriteUnixTime(const std::filesystem::path& file, int64_t unixSeconds);

// Writes a file with the given bytes (creating parent folders).
bool WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
bool WriteFileBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);

// Writes an "installer" in dir named baseName (plus .cmd on Windows) that creates the
// marker file and exits with exitCode. Returns its path.
std::filesystem::path WriteInstaller(const std::filesystem::path& dir,
                                     const std::string& baseNameUtf8,
                                     const std::filesystem::path& marker, int exitCode);

} // namespace probetest
