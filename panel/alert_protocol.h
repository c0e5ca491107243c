#pragma once

#include <filesystem>

// The registry command of the "alert" URL protocol: a program of ours that checks the link
// and starts the browser itself, so that no link ever reaches a command interpreter.
extern const char kAlertCommand[];
// Where the protocol's handler program and the older batch file live (Windows paths).
extern const char kAlertHandlerFile[];
extern const char kAlertBatchFile[];
// The handler's file name beside the tool.
extern const char kAlertHandlerName[];

// Registers the "alert" URL protocol and the tool's "dpiAwareness" execution option,
// rewriting only entries that differ, then copies the handler program from sourceDir to
// kAlertHandlerFile when missing there or different, and openIE.bat (kept for those who
// call it) to kAlertBatchFile unless a file is already there. Failures are silent and
// never throw: returns true when every step succeeded.
bool RegisterAlertUrlProtocol(const std::filesystem::path& sourceDir);
