#pragma once

#include <string>
#include <vector>

// The command line of the check without a window:
//   quelda-envcheck --check [--region shanxi|hebei|neimeng] [--report FILE|-]
//                   [--format json|text] [--upload]
//   quelda-envcheck --repair [--region …] [--report FILE|-] [--format json|text] [--upload]
//   quelda-envcheck --update [--region shanxi|hebei|neimeng]
struct CheckOptions {
    bool update = false;         // install the offered release instead of checking
    bool repair = false;         // repair what the check finds, then check again
    int regionIndex = 0;         // as the window's region selector (kRegions): 0 shanxi, ...
    std::string report = "-";    // a file name (local code page), or "-" for standard output
    std::string format = "json"; // "json" or "text"; without --format, text for a ".txt" file
    bool upload = false;         // also send the JSON report where the server document says
};

// Exit statuses of --update beside 0 (installed, or nothing to install) and 2 (as --check).
inline constexpr int kExitUpdateRestart = 3; // installed; Windows must restart to finish
inline constexpr int kExitUpdateRefused = 5;
inline constexpr int kExitUpdateFailed = 6;

// Exit statuses of --repair beside those of --check.
inline constexpr int kExitRepairRestart = 3;   // an installer asked for a restart (3010, 1641)
inline constexpr int kExitRepairCancelled = 4; // cancelled, or Windows Installer stayed busy

// Whether the arguments (without the program name) ask for the check (or the update)
// without a window.
bool WantsHeadlessCheck(const std::vector<std::string>& args);

// False with a one-line `error` when the arguments are not a valid check command line.
bool ParseCheckOptions(const std::vector<std::string>& args, CheckOptions& options,
                       std::string& error);

// The usage text, for standard error.
std::string CheckUsage();
