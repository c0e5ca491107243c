// Helpers for tests written against the Windows API alone, shared by the suites that run
// over winshim and as a Windows build (under Wine too).
#pragma once

#include "probes/winapi.h"

#include <filesystem>
#include <string>

// True when the ANSI functions take GBK: always over the stand-in, and on Windows when the
// system code page is 936.
bool AnsiIsGbk();
// True on Windows when the process runs under Wine (a throw-away prefix).
bool RunningUnderWine();

// Over the stand-in, makes the machine folder a 64-bit Windows (PROCESSOR_ARCHITECTURE
// AMD64), so that the program sees two registry views. On Windows nothing: the system is
// what it is. True when Windows (or the machine folder) is then 64-bit; a test that needs
// two views skips otherwise.
bool UseA64BitWindows();

// Removes a key and everything under it, in both registry views. Only needed on Windows: elsewhere
// each test has a fresh machine folder.
void DeleteRegistryTree(HKEY root, const std::string& subKey);

#ifdef _WIN32
// Gives `path` the DACL of `sddl`, protected. False when that fails.
bool SetDacl(const std::filesystem::path& path, const wchar_t* sddl);
#endif

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
