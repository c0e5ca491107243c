#pragma once

#include "engine/report/check_report.h"
#include "probes/user_hive.h"

#include <string>

// What the check and the IE repair say about whose settings they looked at (user_hive.h).

// The IE row's fact naming the account: "检测的是当前登录用户 DOMAIN\name 的设置", or why the
// program's own user, or that the logged-on user's hive could not be opened.
CheckFact AccountFact(const UserHive& user);

// The log record for a check or a repair; empty when the desktop's user runs the program.
std::string UserHiveLogText(const UserHive& user);
