#pragma once

#include <memory>
#include <spdlog/logger.h>
#include <string>

// The one diagnostic logger, named " ": a daily file <workDir>/logs/queldatool_YYYY-MM-DD.txt
// with CRLF line ends, flushed on every error-level line and every second.
// Never throws and never returns nullptr: when the file cannot be opened the logger has no
// sinks and the program runs on without a file log.
// Write lines with SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "fmt {}", args) so that
// the source file and line fields are filled.
// workDir is in the system's narrow code page, with forward slashes.
std::shared_ptr<spdlog::logger> CreateDiagLogger(const std::string& workDir);

// The same logger with its daily file in logFolder itself (narrow code page, as workDir).
std::shared_ptr<spdlog::logger> CreateDiagLoggerIn(const std::string& logFolder);
