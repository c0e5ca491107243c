#pragma once

// Puts a portable release's files over the program's own folder. Windows lets the files of a
// running program be renamed, not overwritten: each file that is there already is renamed
// aside ("<name>.old-<n>") and the new one renamed into its place, from a copy made beside it
// first (the unpacked release may lie on another drive). Any failure undoes every step in
// reverse order, so that the old program stays in place and working.

#include <filesystem>
#include <string>
#include <vector>

inline constexpr char kOldFileMark[] = ".old-";

// `files` are relative paths below `unpacked`. False with `why` (the program folder as it was).
bool ReplaceProgramFiles(const std::filesystem::path& unpacked,
                         const std::vector<std::filesystem::path>& files,
                         const std::filesystem::path& programDir, std::string& why);

// Renames the running program's file aside ("<name>.old-<n>") so that a package can put the
// new one at its name; the name it now has, or empty when it could not be renamed.
std::filesystem::path MoveProgramFileAside(const std::filesystem::path& program);
// After the package ran: true when a new file is at `program`; otherwise puts the one renamed
// aside back (the old program stays in place) and is false.
bool PutProgramFileBack(const std::filesystem::path& aside, const std::filesystem::path& program);

// Removes what an earlier update renamed aside; the number of such files left (a file still in
// use stays for a later try).
int RemoveOldProgramFiles(const std::filesystem::path& programDir);
