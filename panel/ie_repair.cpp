// Repair of the four IE settings, on the user-interface thread.
#include "centerwidget.h"

#include "panel_styles.h"
#include "probes/ie_settings.h"
#include "status_icon.h"

#include <QLabel>
#include <QPushButton>
#include <spdlog/spdlog.h>

namespace {

struct IeSetting {
    int (*check)();
    const char* checkFailedFormat;
    int (*set)();
    const char* setFailedFormat;
};

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

    if (repaired) {
        ShowResult(ieStatusLabel, ieIconLabel, "IE浏览器配置修复成功", true, true);
        NoteInstallText(kIERow, "IE浏览器配置修复成功");
        ieButton->hide();
        return;
    }
    ieStatusLabel->setStyleSheet(panelstyle::kFault);
    ieStatusLabel->setText(iePresent ? "IE浏览器配置修复失败" : "当前电脑未安装IE浏览器");
    NoteInstallText(kIERow, ieStatusLabel->text().toStdString());
}
