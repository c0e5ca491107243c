#include "engine/user_settings.h"

namespace {
std::string Named(const UserHive& user) {
    return user.account().empty() ? std::string("?") : user.account();
}
} // namespace

CheckFact AccountFact(const UserHive& user) {
    CheckFact fact;
    fact.name = "account";
    fact.where = user.rootName();
    if (!user.account().empty())
        fact.found = user.account();
    fact.ok = user.owner() != HiveOwner::HiveUnavailable;
    switch (user.owner()) {
    case HiveOwner::ProgramUser:
    case HiveOwner::DesktopUser:
        fact.note = "检测的是当前登录用户 " + Named(user) + " 的设置";
        break;
    case HiveOwner::NoDesktop:
        fact.note = "未找到桌面的登录用户，检测的是本程序的运行账户 " + Named(user) + " 的设置";
        break;
    case HiveOwner::DesktopUnknown:
        fact.note = "无法确定桌面的登录用户（Windows 错误 " + std::to_string(user.error()) +
                    "），检测的是本程序的运行账户 " + Named(user) + " 的设置";
        break;
    case HiveOwner::HiveUnavailable:
        fact.note = "无法打开当前登录用户 " + Named(user) + " 的注册表（Windows 错误 " +
                    std::to_string(user.error()) + "）";
        break;
    }
    return fact;
}

std::string UserHiveLogText(const UserHive& user) {
    switch (user.owner()) {
    case HiveOwner::ProgramUser:
        return std::string();
    case HiveOwner::DesktopUser:
        return "settings of the logged-on user " + Named(user) + " under " + user.rootName() +
               ", not of the program's user";
    case HiveOwner::NoDesktop:
        return "no desktop shell window, settings of the program's own user " + Named(user);
    case HiveOwner::DesktopUnknown:
        return "desktop user unknown, error=" + std::to_string(user.error()) +
               ", settings of the program's own user " + Named(user);
    case HiveOwner::HiveUnavailable:
        return "hive of the logged-on user " + Named(user) + " (" + user.rootName() +
               ") cannot be opened, error=" + std::to_string(user.error());
    }
    return std::string();
}
