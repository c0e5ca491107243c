#pragma once

#include <string>

// Starts the installer (path in the local code page) with administrator rights and waits
// for it to end: 1 ran, -2 not started, -1 exception.
int RunElevated(const std::string& installerPath);
