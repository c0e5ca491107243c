#pragma once

#include <string>

// Where the diagnostic log of a program started in a working folder goes.
//
// As always, <working folder>\logs, unless
// - the working folder is the one the MSI package installed the program to (HKLM
//   kInstallKey, value "InstallFolder", where the package writes it: the 32-bit view): an
//   installed program's folder is the package's, and what it writes there an uninstall or
//   upgrade would leave behind;
// - or logs\ cannot be made or written there (a read-only folder).
// Then kSharedLogFolder, a folder only administrators can change (made so when missing, and
// taken over from anyone else who made it first).
enum class LogFolderReason { kWorkingFolder, kInstallFolder, kNotWritable };

struct LogFolderChoice {
    std::string folder; // UTF-8, a path this process opens; empty when no folder is usable
    LogFolderReason reason = LogFolderReason::kWorkingFolder;
};

extern const char kSharedLogFolder[]; // C:\ProgramData\Quelda\logs
extern const char kInstallKey[];      // SOFTWARE\Quelda\EnvCheck

// workDir: the current directory in UTF-8. Never throws.
LogFolderChoice ChooseLogFolder(const std::string& workDir);
