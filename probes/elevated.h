#pragma once

#include <optional>
#include <string>

// Starts the installer (path in the local code page) with administrator rights and waits
// for it to end: 1 ran (whatever its exit code), -2 not started, -1 exception. With
// `exitCode`, the installer's exit code goes there when it is known (reset otherwise).
int RunElevated(const std::string& installerPath, std::optional<unsigned long>* exitCode = nullptr);
