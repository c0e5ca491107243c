#pragma once

#include <string>

namespace winshim {

// True when the last component of a FindFirstFile pattern holds '*' or '?'.
bool HasWildcard(const std::string& pattern);

// Matches a UTF-8 file name against a pattern with '*' (any run of characters) and '?'
// (one character), as FindFirstFile does on NTFS: case-insensitively for ASCII letters
// (other characters compare exactly), "*.*" matches every name, and a trailing ".*"
// also matches a name without an extension. Characters, not bytes, are counted by '?'.
bool MatchFileName(const std::string& pattern, const std::string& name);

// ASCII case-insensitive equality of two names.
bool SameFileName(const std::string& a, const std::string& b);

} // namespace winshim
