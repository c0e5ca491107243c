#pragma once

#include <string>
#include <vector>

// The check without a window: reads config.json as the window does, runs one check, writes
// the report and returns the exit status (see CheckUsage). `args` are the arguments after
// the program name.
int RunHeadlessCheck(const std::vector<std::string>& args);
