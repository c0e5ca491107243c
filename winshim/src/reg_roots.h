// The ten registry roots: their full names, the predefined handles that stand for them,
// and the abbreviations that reg.exe accepts.
#pragma once

#include <cstdint>
#include <string>

namespace winshim::reg {

// The canonical full name ("HKEY_CURRENT_USER") of a predefined handle value
// (0x80000001), or "" when the value is not one of the ten.
std::string RootNameOfHandle(uintptr_t handle);
// The canonical full name for a full name in any case, or "" when it is not a root.
std::string CanonicalRootName(const std::string& name);
// As CanonicalRootName, also accepting HKLM, HKCU, HKCR, HKU and HKCC.
std::string RootNameFromShortOrFull(const std::string& name);

} // namespace winshim::reg
