#include "engine/ie_repair.h"

#include "engine/ie_mode.h"
#include "engine/user_settings.h"
#include "probes/ie_settings.h"
#include "probes/iemode_site_list.h"

#include <spdlog/spdlog.h>

namespace {

struct IeSetting {
    int (*check)();
    const char* checkFailedFormat;
    int (*set)();
    const char* setFailedFormat;
};

const char kEdgeMissing[] = "未找到 Microsoft Edge，请安装后重新检测";
const char kFolderNotSecured[] =
    "无法将 C:\\ProgramData\\Quelda 设为仅管理员可修改，未开启 Edge 的 IE 模式";
const char kNoDesktopUser[] = "没有用户登录桌面，未修复IE浏览器的用户设置";

const IeSetting kIeSettings[] = {
    {CheckIESaveVerCfg, "CheckIESaveVerCfg failed, ret={}", SetIESaveVerCfg,
     "SetIESaveVerCfg failed, ret={}"},
    {CheckIETrustCfg, "CheckIETrustCfg failed, ret={}", SetIETrustCfg,
     "SetIETrustCfg failed, ret={}"},
    {CheckIESslCfg, "CheckIESslCfg failed, ret={}", SetIESslCfg, "SetIESslCfg failed, ret={}"},
    {CheckIEMaxConCfg, "CheckIEMaxConCfg failed, ret={}", SetIEMaxConCfg,
     "SetIEMaxConCfg failed, ret={}"},
};

} // namespace

IeRepair RepairIeSettings(const std::vector<std::string>& hosts, bool skipWithoutDesktopUser,
                          const std::shared_ptr<spdlog::logger>& logger) {
    IeRepair result;
    const UserHive user = OpenUserHive(true);
    const std::string whose = UserHiveLogText(user);
    if (!whose.empty())
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "{}", whose);
    result.userSettingsSkipped =
        skipWithoutDesktopUser && user.owner() == HiveOwner::NoDesktop && user.programIsSystem();
    if (result.userSettingsSkipped)
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err,
                           "no desktop user: the per-user IE settings are not repaired");
    bool iePresent = true;
    for (const IeSetting& setting : kIeSettings) {
        if (result.userSettingsSkipped)
            break;
        const int checked = setting.check();
        if (checked >= 0)
            continue;
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err, fmt::runtime(setting.checkFailedFormat),
                           checked);
        // The first setting is the one every IE installation has.
        if (&setting == &kIeSettings[0])
            iePresent = false;
        const int set = setting.set();
        if (set < 0) {
            SPDLOG_LOGGER_CALL(logger, spdlog::level::err, fmt::runtime(setting.setFailedFormat),
                               set);
            result.repaired = false;
        }
    }

    // Where IE is retired the portal opens in Edge's IE mode: our site list and the three
    // policies, unless Edge is missing or an organisation's list decides. These are the
    // machine's, repaired whoever owns the desktop.
    const IEModeReading mode =
        ReadIEMode(hosts.empty() ? std::vector<std::string>{kPortalDomain} : hosts);
    bool folderNotSecured = false;
    if (mode.state == IEModeState::PolicyOff || mode.state == IEModeState::SiteListIncomplete) {
        const int written = WriteSiteList(kSiteListPath, mode.hosts);
        const int set = written < 0 ? 0 : SetIEModePolicies(result.policiesChanged);
        if (written < 0)
            SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "WriteSiteList failed, ret={}", written);
        // Policies never name a list a standard user could change.
        folderNotSecured = written == -2;
        if (folderNotSecured)
            SPDLOG_LOGGER_CALL(logger, spdlog::level::err,
                               "site list folder not secured, IE mode policies not written");
        if (set < 0)
            SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "SetIEModePolicies failed, ret={}", set);
        if (written < 0 || set < 0)
            result.repaired = false;
    }

    if (mode.state == IEModeState::EdgeMissing) {
        result.repaired = false;
        result.edgeMissing = true;
        result.status = result.record = kEdgeMissing;
        return result;
    }
    if (result.userSettingsSkipped) {
        result.repaired = false;
        result.status = kNoDesktopUser;
    } else if (result.repaired) {
        result.status = "IE浏览器配置修复成功";
    } else {
        result.status = iePresent ? "IE浏览器配置修复失败" : "当前电脑未安装IE浏览器";
    }
    result.record = result.status;
    if (result.policiesChanged)
        result.record = result.repaired ? kIEModeOpened : result.record + "；" + kIEModeOpened;
    if (folderNotSecured)
        result.record += std::string("；") + kFolderNotSecured;
    return result;
}
