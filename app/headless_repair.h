#pragma once

#include "app/check_options.h"
#include "common/mainconfig.h"

#include <memory>
#include <spdlog/logger.h>

// The repair without a window (--repair): the check, the IE repair, the installers of what the
// check found in the repair sequence's order (with their entries' silentArgs), and the check
// again, whose report goes out as --check's does. One line per step; the exit status as
// CheckUsage says.
int RunHeadlessRepair(const CheckOptions& options, const MainConfig& config,
                      const std::shared_ptr<spdlog::logger>& logger);
