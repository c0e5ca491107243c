// The command line of quelda-reg, in reg.exe's form: a verb, positional arguments and
// "/name [value]" switches (case-insensitive; "-name" also accepted).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quelda_reg {

struct Args {
    std::string verb; // lower case: add, query, delete, import, export
    std::vector<std::string> positional;
    std::optional<std::string> valueName; // /v NAME
    bool defaultValue = false;            // /ve
    bool allValues = false;               // /va
    std::optional<std::string> type;      // /t TYPE
    std::optional<std::string> data;      // /d DATA
    std::optional<std::string> separator; // /s SEP (add)
    bool recursive = false;               // /s (query)
    bool force = false;                   // /f, and /y for export
    bool help = false;                    // /?
    int view = 64;                        // /reg:32 or /reg:64 (64, as the 64-bit reg.exe)
};

// Parses argv[1..]; on failure returns false with a message for the user.
bool ParseArgs(const std::vector<std::string>& argv, Args* args, std::string* error);

} // namespace quelda_reg
