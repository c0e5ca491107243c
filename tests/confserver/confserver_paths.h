#pragma once

#include "child_process.h"

#include <string>

// The demo's own files, which the server's tests serve and check.
inline const std::string kExamples = std::string(QUELDA_SOURCE_DIR) + "/examples";

// The server program, built beside the tests.
inline std::string Server() {
    return (BinDir() / "quelda-confserver").string();
}
