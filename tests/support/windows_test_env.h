// Helpers for tests written against the Windows API alone, shared by the suites that run
// over winshim and as a Windows build (under Wine too).
#pragma once

#include "probes/winapi.h"

#include <string>

// True when the ANSI functions take GBK: always over the stand-in, and on Windows when the
// system code page is 936.
bool AnsiIsGbk();
// True on Windows when the process runs under Wine (a throw-away prefix).
bool RunningUnderWine();

// Removes a key and everything under it. Only needed on Windows: elsewhere each test has
// a fresh machine folder.
void DeleteRegistryTree(HKEY root, const std::string& subKey);

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
