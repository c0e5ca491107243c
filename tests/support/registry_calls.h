// Registry keys and values made and read back through the Windows API, with the Windows
// return codes kept for the test to check.
#pragma once

#include "probes/winapi.h"

#include <string>

// Creates or opens the key; a failure is a test failure and gives nullptr.
HKEY CreateKey(HKEY root, const std::string& subKey, REGSAM access = KEY_READ | KEY_WRITE);
LONG SetValue(HKEY key, const char* name, DWORD type, const std::string& bytes);

// Type and bytes of a value as RegQueryValueExA returns them (size asked first).
struct Query {
    LONG rc = -1;
    DWORD type = REG_NONE;
    std::string data;
};
Query QueryValue(HKEY key, const char* name);
