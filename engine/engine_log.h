#pragma once

#include <spdlog/spdlog.h>

// An error-level record with the caller's source file and line, as every record of the
// engine is written. A logger handle without a logger writes nothing.
#define ENGINE_LOG(logger, ...)                                                                    \
    do {                                                                                           \
        if (logger)                                                                                \
            SPDLOG_LOGGER_CALL((logger), spdlog::level::err, __VA_ARGS__);                         \
    } while (0)
