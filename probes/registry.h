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

// The registry view that answered a lookup made in both views: on a 32-bit Windows there is
// one view; on a 64-bit one the native (64-bit) view or the WOW6432Node (32-bit) one.
enum class RegView { Single, Bits64, Bits32 };

// RegGetStrValue, and on a 64-bit Windows, only where the key or the value is missing in the
// 64-bit view, the same lookup in the 32-bit view (where 32-bit installers write). A value
// found in the 64-bit view is never looked up again. When neither view has it, the 64-bit
// view's result is returned. *from, when given, names the view that answered (when none
// did, the view looked in first; Single on a 32-bit Windows).
int RegGetStrValueEitherView(HKEY root, const std::string& subKeyUtf8,
                             const std::string& valueNameUtf8, std::string& value,
                             RegView* from = nullptr);
// RegKeyExists (the program's own view, the 32-bit one on a 64-bit Windows), and on a 64-bit
// Windows, where the key is missing there, the 64-bit view; *from as above.
int RegKeyExistsEitherView(HKEY root, const std::string& subKey, RegView* from = nullptr);

int RegGetDwordValue(HKEY root, const std::string& subKey, const std::string& valueName,
                     DWORD& value);
// A value that must be a REG_DWORD, in the program's own view, telling a missing value from
// one that cannot be read: 1 with the number; 0 when the key or the value does not exist; -1
// when the value exists but is not a four-byte REG_DWORD; -2 when the registry does not
// answer (access denied, a damaged store), with the Windows error in `error`.
int RegReadDwordExact(HKEY root, const std::string& subKey, const std::string& valueName,
                      DWORD& value, long& error);
int RegSetStrValue(HKEY root, const std::string& subKey, const std::string& valueName,
                   const std::string& data);
int RegSetDwordValue(HKEY root, const std::string& subKey, const std::string& valueName,
                     const DWORD* value);
