// Repair of the four IE settings, on the user-interface thread.
#include "centerwidget.h"

#include "engine/ie_mode.h"
#include "engine/user_settings.h"
#include "panel_styles.h"
#include "probes/ie_settings.h"
#include "status_icon.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <spdlog/spdlog.h>

namespace {

struct IeSetting {
    int (*check)();
    const char* checkFailedFormat;
    int (*set)();
    const char* setFailedFormat;
};

const char kIEModeOpened[] = "已开启 Edge 的 IE 模式，请关闭所有 Edge 窗口后重新打开交易平台";
const char kEdgeMissing[] = "未找到 Microsoft Edge，请安装后重新检测";
const char kFolderNotSecured[] =
    "无法将 C:\\ProgramData\\Quelda 设为仅管理员可修改，未开启 Edge 的 IE 模式";

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

void centerWidget::RepaireIECfg() {
    const std::string whose = UserHiveLogText(OpenUserHive(true));
    if (!whose.empty())
        SPDLOG_LOGGER_CALL(logger, spdlog::level::err, "{}", whose);
    bool iePresent = true;
    bool repaired = true;
    for (const IeSetting& setting : kIeSettings) {
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
            repaired = false;
        }
    }

    // Where IE is retired the portal opens in Edge's IE mode: our site list and the three
    // policies, unless Edge is missing or an organisation's list decides.
    const std::vector<std::string> hosts =
        lastReport.ieHosts.empty() ? std::vector<std::string>{kPortalDomain} : lastReport.ieHosts;
    const IEModeReading mode = ReadIEMode(hosts);
    bool policiesChanged = false;
    bool folderNotSecured = false;
    if (mode.state == IEModeState::PolicyOff || mode.state == IEModeState::SiteListIncomplete) {
        const int written = WriteSiteList(kSiteListPath, mode.hosts);
        const int set = written < 0 ? 0 : SetIEModePolicies(policiesChanged);
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
            repaired = false;
    }

    if (mode.state == IEModeState::EdgeMissing) {
        ieStatusLabel->setStyleSheet(panelstyle::kFault);
        ieStatusLabel->setText(kEdgeMissing);
        NoteInstallText(kIERow, kEdgeMissing);
        return;
    }
    if (repaired) {
        ShowResult(ieStatusLabel, ieIconLabel, "IE浏览器配置修复成功", true, true);
        ieButton->hide();
    } else {
        ieStatusLabel->setStyleSheet(panelstyle::kFault);
        ieStatusLabel->setText(iePresent ? "IE浏览器配置修复失败" : "当前电脑未安装IE浏览器");
    }
    std::string record = ieStatusLabel->text().toStdString();
    if (policiesChanged)
        record = repaired ? kIEModeOpened : record + "；" + kIEModeOpened;
    if (folderNotSecured)
        record += std::string("；") + kFolderNotSecured;
    NoteInstallText(kIERow, record);
    // Edge reads its policies when it starts.
    if (policiesChanged)
        ShowIEModeNotice(kIEModeOpened);
}

void centerWidget::ShowIEModeNotice(const QString& text) {
    // Not modal to the program: the one-click repair goes on while the box is open.
    auto* box =
        new QMessageBox(QMessageBox::Information, "IE浏览器配置", text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
