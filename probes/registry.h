#pragma once

#include "winapi.h"

#include <map>
#include <string>

// Root name ("HKEY_LOCAL_MACHINE", ...) to predefined root key; filled once, read-only.
const std::map<std::string, HKEY>& RegRootTable();
// Exact, case-sensitive lookup; nullptr for a name not in the table.
HKEY RegRootKey(const std::string& rootName);

int SplitRegPath(const std::string& regPath, std::string& rootName, std::string& subKey);
int RegKeyExists(HKEY root, const std::string& subKey);
// 1 when the registry itself answers; -1, with the Windows error in `error`, when its store
// cannot be read (a damaged hive, a registry file that does not parse, a lock never
// released): every registry probe then fails, whatever the machine holds.
int CheckRegistryReadable(long& error);
int RegGetStrValue(HKEY root, const std::string& subKeyUtf8, const std::string& valueNameUtf8,
                   std::string& value);
int RegGetDwordValue(HKEY root, const std::string& subKey, const std::string& valueName,
                     DWORD& value);
int RegSetStrValue(HKEY root, const std::string& subKey, const std::string& valueName,
                   const std::string& data);
int RegSetDwordValue(HKEY root, const std::string& subKey, const std::string& valueName,
                     const DWORD* value);
