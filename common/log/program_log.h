#pragma once

#include <memory>
#include <spdlog/logger.h>
#include <string>

// The program's diagnostic logger for a start in workDir (UTF-8): its daily file in the
// folder that ChooseLogFolder picks (workDir's logs, or C:\ProgramData\Quelda\logs), whose
// first line of this run names that folder and why it was chosen. A logger without sinks
// when no folder can be used. Never throws.
std::shared_ptr<spdlog::logger> CreateProgramLogger(const std::string& workDir);
