// Helpers for the probe tests, written against the Windows API only.
#pragma once

#include "probes/winapi.h"

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

// Removes a key and everything under it. Only needed on Windows: elsewhere each test has
// a fresh machine folder.
void DeleteTree(HKEY root, const std::string& subKey);

// True when the ANSI functions take GBK: always over the stand-in, and on Windows when the
// system code page is 936.
bool AnsiIsGbk();
// True on Windows when the process runs under Wine (a throw-away prefix).
bool RunningUnderWine();

// Sets the local time zone ("CST-8", "UTC0") for the object's lifetime.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::string previous_;
    bool hadPrevious_ = false;
};

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
