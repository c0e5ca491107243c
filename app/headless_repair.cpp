#include "app/headless_repair.h"

#include "app/console_text.h"
#include "app/headless_output.h"
#include "engine/checkthread.h"
#include "engine/ie_repair.h"
#include "engine/install_outcome.h"
#include "engine/job_contract.h"
#include "engine/row_texts.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>

namespace {

constexpr unsigned long kInstallerBusy = 1618; // ERROR_INSTALL_ALREADY_RUNNING

int FaultyCount(const CheckReport& report) {
    int faulty = 0;
    for (const CheckRow& row : report.rows)
        faulty += !row.code || *row.code < 0;
    return faulty;
}

// What the repair job did to each row, gathered on its worker and read after wait().
struct RepairRecord {
    std::array<std::string, kRowCount> outcome;
    std::array<std::optional<std::int64_t>, kRowCount> exitCode;
    bool restart = false;
    bool cancelledOrBusy = false;
};

} // namespace

int RunHeadlessRepair(const CheckOptions& options, const MainConfig& config,
                      const std::shared_ptr<spdlog::logger>& logger) {
    // The steps go where the report does not.
    std::FILE* steps = options.report == "-" ? stderr : stdout;
    auto say = [steps](const std::string& line) { WriteStreamText(steps, line + "\n"); };

    say("正在检测");
    const CheckReport before = RunCheckJob(options, config, logger);
    if (ReportExitCode(before) == 2) {
        say("检测完成：" + before.rows[kNetworkRow].text);
        if (const int failed = DeliverReport(before, options, logger))
            return failed;
        return 2;
    }
    const int faulty = FaultyCount(before);
    say(faulty ? "检测完成：" + std::to_string(faulty) + " 项需要修复" : "检测完成：全部正常");

    std::array<std::string, kRowCount> records;
    const std::optional<int>& ie = before.rows[kIERow].code;
    if (!ie || *ie < 0) {
        // Nobody at the desktop: a service's own account is not the bidder's.
        const IeRepair done = RepairIeSettings(before.ieHosts, true, logger);
        records[kIERow] = done.record;
        say("修复 " + RowName(kIERow) + "：" + done.record);
    }

    int flags = 0;
    const std::pair<int, int> installRows[] = {
        {kDotNetRow, kRepairDotNet}, {kToolRow, kRepairTool}, {kCaRow, kRepairCa}};
    for (const auto& [row, bit] : installRows) {
        const std::optional<int>& code = before.rows[row].code;
        if (!code || *code < 0)
            flags |= bit;
    }
    RepairRecord done;
    if (flags) {
        CheckThread thread(kRepairJob, options.regionIndex, config.ipPort, config.url,
                           std::string(), flags, logger);
        UseDocumentKeys(thread, config, logger);
        thread.SetSilentInstallers(true);
        QObject::connect(
            &thread, &CheckThread::InstallOutcomeSig, &thread,
            [&done, &say](int row, const QString& outcome) {
                if (row < 0 || row >= kRowCount)
                    return;
                done.outcome[row] = outcome.toStdString();
                say("修复 " + RowName(row) + "：" + done.outcome[row]);
            },
            Qt::DirectConnection);
        QObject::connect(
            &thread, &CheckThread::InstallEndSig, &thread,
            [&done](int row, int end, qint64 exitCode) {
                if (row >= 0 && row < kRowCount && exitCode >= 0)
                    done.exitCode[row] = exitCode;
                done.restart |= end == kInstallEndRestart;
                done.cancelledOrBusy |=
                    end == kInstallEndCancelled || exitCode == qint64(kInstallerBusy);
            },
            Qt::DirectConnection);
        thread.start();
        thread.AwaitEnd();
    }

    say("正在重新检测");
    CheckReport after = RunCheckJob(options, config, logger);
    for (int row = 0; row < kRowCount; ++row) {
        const std::string& record = done.outcome[row].empty() ? records[row] : done.outcome[row];
        if (!record.empty())
            after.rows[row].install = record;
        if (done.exitCode[row])
            after.rows[row].installExitCode = done.exitCode[row];
    }
    const int still = FaultyCount(after);
    say(still ? "重新检测完成：" + std::to_string(still) + " 项仍需修复"
              : "重新检测完成：全部正常");
    if (const int failed = DeliverReport(after, options, logger))
        return failed;
    const int checked = ReportExitCode(after);
    if (checked == 2)
        return 2;
    if (done.restart)
        return kExitRepairRestart;
    if (done.cancelledOrBusy)
        return kExitRepairCancelled;
    return checked;
}
