#include "app/headless_check.h"

#include "app/check_options.h"
#include "app/configfile.h"
#include "app/console_text.h"
#include "app/headless_output.h"
#include "app/headless_repair.h"
#include "common/log/program_log.h"
#include "engine/checkthread.h"
#include "engine/job_contract.h"

#include <QDir>

#include <cstdio>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
// A GUI program started from a console has none of its own: standard streams that the
// caller did not redirect go to the parent's console, when there is one.
void AttachParentConsole() {
    const auto unset = [](DWORD which) {
        const HANDLE handle = GetStdHandle(which);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    const bool out = unset(STD_OUTPUT_HANDLE);
    const bool err = unset(STD_ERROR_HANDLE);
    if ((!out && !err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (out)
        (void)std::freopen("CONOUT$", "w", stdout);
    if (err)
        (void)std::freopen("CONOUT$", "w", stderr);
}
#endif

// --update: the update job; its words on standard output.
int RunUpdate(const CheckOptions& options, const MainConfig& config,
              const std::shared_ptr<spdlog::logger>& logger) {
    CheckThread thread(kUpdateJob, options.regionIndex, config.ipPort, config.url, std::string(), 0,
                       logger);
    UseDocumentKeys(thread, config, logger);
    // Set on the worker, read after wait().
    int result = kUpdateNothing;
    std::string text;
    QObject::connect(
        &thread, &CheckThread::UpdateResultSig, &thread,
        [&](int code, const QString& words) {
            result = code;
            text = words.toStdString();
        },
        Qt::DirectConnection);
    thread.start();
    thread.AwaitEnd();
    if (thread.Report().rows[kNetworkRow].code != kResultGood) {
        SayError("the server document could not be fetched or used");
        return 2;
    }
    WriteStreamText(stdout, text + "\n");
    if (result == kUpdateRestart)
        return kExitUpdateRestart;
    if (result == kUpdateRefused)
        return kExitUpdateRefused;
    if (result == kUpdateFailed)
        return kExitUpdateFailed;
    return 0;
}

} // namespace

int RunHeadlessCheck(const std::vector<std::string>& args) {
#ifdef _WIN32
    AttachParentConsole();
#endif
    CheckOptions options;
    std::string error;
    if (!ParseCheckOptions(args, options, error)) {
        SayError(error);
        WriteStreamText(stderr, CheckUsage());
        return 64;
    }
    // The window's messages about config.json, kept off a report on standard output.
    MainConfig config;
    ReadConfig(config, options.report == "-" ? stderr : stdout);

    const auto logger = CreateProgramLogger(QDir::currentPath().toStdString());
    if (options.update)
        return RunUpdate(options, config, logger);
    if (options.repair)
        return RunHeadlessRepair(options, config, logger);
    const CheckReport report = RunCheckJob(options, config, logger);
    if (const int failed = DeliverReport(report, options, logger))
        return failed;
    return ReportExitCode(report);
}
