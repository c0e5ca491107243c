#pragma once

#include <filesystem>

// The registry command of the "alert" URL protocol: the batch file gets the URL as one
// quoted argument, never spliced into a command line.
extern const char kAlertCommand[];
// Where the protocol's batch file lives (a Windows path).
extern const char kAlertBatchFile[];

// Registers the "alert" URL protocol and the tool's "dpiAwareness" execution option,
// rewriting only entries that differ, then copies openIE.bat from sourceDir to
// kAlertBatchFile unless a file is already there. Failures are silent and never throw:
// returns true when every step succeeded.
bool RegisterAlertUrlProtocol(const std::filesystem::path& sourceDir);
