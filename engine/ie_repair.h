#pragma once

#include <memory>
#include <spdlog/logger.h>
#include <string>
#include <vector>

// The IE repair: the four IE settings of the desktop's user (user_hive.h), and where IE is
// retired Edge's IE mode for the portal's hosts (our site list and Edge's three policies).
// The window runs it from its repair button, the headless repair as its first step.
struct IeRepair {
    bool repaired = true;
    bool edgeMissing = false;     // IE is retired and Edge is not installed: nothing done
    bool policiesChanged = false; // Edge reads them when it starts again
    bool userSettingsSkipped = false;
    std::string status; // the row's text: "IE浏览器配置修复成功", ...
    std::string record; // the row's install record (the status and what else was done)
};

// `hosts`: the portal's hosts that IE mode must open (the check's), the portal itself when
// none. `skipWithoutDesktopUser`: when nobody owns the desktop and the program runs as
// LocalSystem (a management agent's repair), skip the per-user settings rather than write
// SYSTEM's own, and say so.
IeRepair RepairIeSettings(const std::vector<std::string>& hosts, bool skipWithoutDesktopUser,
                          const std::shared_ptr<spdlog::logger>& logger);

inline constexpr char kIEModeOpened[] =
    "已开启 Edge 的 IE 模式，请关闭所有 Edge 窗口后重新打开交易平台";
