#pragma once

#include "engine/download/download.h"
#include "engine/transport/transport.h"

#include "probes/installer_run.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// How one installer's download and run ended, in Chinese, for the row's record. These say
// more than the result codes the install jobs signal (which stay as they are).

// The outcome of an installer that ran and ended with exit code 0.
inline const char kInstalledOutcome[] = "已安装，等待重新检测";
// Exit codes 3010 and 1641: installed, effective after a restart.
inline const char kRestartOutcome[] = "已安装，需重启电脑后生效";
// Exit codes 1602 and 1223, or a wait for another installation that the user stopped.
inline const char kCancelledOutcome[] = "安装已取消";
// What the row shows while its installer waits for another installation to end.
inline const char kWaitingText[] = "正在等待其他安装程序结束…";

// How an installer's run ended, for the row's look. Travels as an int (InstallEndSig).
enum InstallEnd : int {
    kInstallEndInstalled = 1, // exit code 0
    kInstallEndRestart = 2,   // installed, a restart makes it effective
    kInstallEndCancelled = 3, // the user cancelled it
    kInstallEndFailed = 4,    // any other exit code, or it could not be started
};

struct InstallResult {
    int runCode = 0; // RunElevated's result for the last start
    InstallEnd end = kInstallEndFailed;
    std::optional<unsigned long> exitCode; // of the last start, when known
    std::string outcome;                   // the record's text
};

// The wait for another installation (exit code 1618). The defaults are the product's;
// tests set shorter ones.
struct InstallWaitLimits {
    std::chrono::milliseconds otherInstallation{std::chrono::minutes(10)};
    std::chrono::milliseconds poll{std::chrono::seconds(1)};
};
InstallWaitLimits CurrentInstallWaitLimits();
void SetInstallWaitLimits(const InstallWaitLimits& limits);

// Why a download failed ("下载失败：HTTP 404", ...); empty for Saved. `httpStatus` is the
// status of the last response, 0 when none arrived; `failure` what failed in the transport
// (see FetchHooks), whose words name a certificate, TLS or proxy problem.
// `bounds` the limits the download met (TooLarge, NoDiskSpace).
std::string FetchOutcomeText(FetchResult fetched, int httpStatus,
                             const TransportFailure& failure = TransportFailure(),
                             const FetchBounds& bounds = FetchBounds());

// What a run of RunElevatedAfterOthers came to: "安装程序退出码 1603：<Windows' text>", ...
InstallResult InstallResultOf(const InstallerRun& run);

// Starts the installer at `target` with administrator rights and waits for it (and, after
// exit code 1618, for the other installation as `wait` says, then once more).
InstallResult RunInstaller(const std::filesystem::path& target, const OtherInstallWait& wait);
// The same with arguments (an entry's `silentArgs`); a Windows Installer package through
// msiexec (from the system folder): /i "<package>" <arguments>.
InstallResult RunInstallerWith(const std::filesystem::path& target, const std::string& arguments,
                               bool package, const OtherInstallWait& wait);
// The same for a Windows Installer package as a silent major upgrade: msiexec (from the system
// folder) /i "<package>" /qn REBOOT=ReallySuppress, its exit codes read as an installer's.
InstallResult RunPackageUpgrade(const std::filesystem::path& package, const OtherInstallWait& wait);

// The CA drivers: what their installers came to together. Each installer that did not
// install is "<file name>：<outcome>" in `failures`.
struct CaInstalls {
    std::vector<std::string> failures;
    bool restart = false;   // an installer asked for a restart
    bool cancelled = false; // one was cancelled
    bool failed = false;    // one failed (download, start or exit code)
    // The first failed or cancelled installer's exit code, else the first that was not 0.
    std::optional<unsigned long> exitCode;
    void Add(const std::string& fileName, const InstallResult& result);
    void AddFetchFailure(const std::string& fileName, const std::string& outcome);
    InstallEnd End() const;
};

// The CA drivers' outcome from the outcomes of the installers that did not install, each
// "<file name>：<outcome>"; with none, installed (`restart`: and a restart is needed).
std::string CaOutcomeText(const std::vector<std::string>& failures, bool restart = false);
