#include "common/log/diaglog.h"

#include <chrono>
#include <exception>
#include <memory>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/spdlog.h>

namespace {

const char kLoggerName[] = " ";
const char kPattern[] = "[%H:%M:%S %z] [source %s] [line %#] [thread %t] %v";

// Joined as text: workDir is in the narrow code page that the sink opens files with, and a
// round trip through std::filesystem::path would re-encode it on some Windows toolchains.
std::string InFolder(const std::string& folder, const char* name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\')
        path += '/';
    return path + name;
}

} // namespace

std::shared_ptr<spdlog::logger> CreateDiagLogger(const std::string& workDir) {
    return CreateDiagLoggerIn(InFolder(workDir, "logs"));
}

std::shared_ptr<spdlog::logger> CreateDiagLoggerIn(const std::string& logFolder) {
    try {
        // A later set-up (a new panel) takes the name over; earlier holders keep their logger,
        // which leaves the registry first so that set_pattern keeps its CRLF formatter.
        spdlog::drop(kLoggerName);
        spdlog::set_pattern(kPattern, spdlog::pattern_time_type::local);
        auto logger = spdlog::daily_logger_mt(kLoggerName, InFolder(logFolder, "queldatool.txt"), 0,
                                              0, false, 0);
        logger->set_formatter(std::make_unique<spdlog::pattern_formatter>(
            kPattern, spdlog::pattern_time_type::local, "\r\n"));
        logger->flush_on(spdlog::level::err);
        spdlog::flush_every(std::chrono::seconds(1));
        return logger;
    } catch (const std::exception&) {
        // No file log: the program runs on, and log calls go nowhere.
        return std::make_shared<spdlog::logger>(kLoggerName);
    }
}
