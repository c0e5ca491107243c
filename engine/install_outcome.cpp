#include "engine/install_outcome.h"

#include "engine/install_paths.h"

#include "probes/elevated.h"
#include "probes/system_message.h"

#include <mutex>

namespace {

constexpr unsigned long kRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr unsigned long kRestartInitiated = 1641; // ERROR_SUCCESS_REBOOT_INITIATED
constexpr unsigned long kUserExit = 1602;         // ERROR_INSTALL_USEREXIT
constexpr unsigned long kCancelled = 1223;        // ERROR_CANCELLED
constexpr unsigned long kAlreadyRunning = 1618;   // ERROR_INSTALL_ALREADY_RUNNING

std::mutex& LimitsMutex() {
    static std::mutex mutex;
    return mutex;
}
InstallWaitLimits& Limits() {
    static InstallWaitLimits limits;
    return limits;
}

std::string ExitCodeText(unsigned long code) {
    std::string text = "安装程序退出码 " + std::to_string(code);
    const std::string windows = SystemMessageText(code);
    if (!windows.empty())
        text += "：" + windows;
    return text;
}

// Bytes in MB (2^20), rounded up for what is needed and down for what there is.
std::string MegabytesText(std::uint64_t bytes, bool roundUp) {
    constexpr std::uint64_t kMb = std::uint64_t(1) << 20;
    return std::to_string(roundUp ? (bytes + kMb - 1) / kMb : bytes / kMb);
}

} // namespace

InstallWaitLimits CurrentInstallWaitLimits() {
    std::lock_guard<std::mutex> lock(LimitsMutex());
    return Limits();
}

void SetInstallWaitLimits(const InstallWaitLimits& limits) {
    std::lock_guard<std::mutex> lock(LimitsMutex());
    Limits() = limits;
}

std::string FetchOutcomeText(FetchResult fetched, int httpStatus, const TransportFailure& failure,
                             const FetchBounds& bounds) {
    switch (fetched) {
    case FetchResult::Saved:
        return std::string();
    case FetchResult::RequestFailed:
        switch (failure.error) {
        case TransportError::None:
        case TransportError::Cancelled:
        case TransportError::Connect:
        case TransportError::Timeout:
        case TransportError::Truncated:
            break;
        default:
            return "下载失败：" + DescribeTransportFailure(failure);
        }
        if (httpStatus == 0)
            return "下载失败：连接失败";
        if (httpStatus != 200 && httpStatus != 206)
            return "下载失败：HTTP " + std::to_string(httpStatus);
        return "下载失败：传输中断";
    case FetchResult::ChecksumMismatch:
        if (httpStatus == kRefusedWithoutSha256)
            return "未下载：已签名的服务器配置未给出此安装程序的 sha256";
        return "下载失败：sha256 不符";
    case FetchResult::FolderFailed:
        return "下载失败：下载目录无法创建";
    case FetchResult::OpenFailed:
    case FetchResult::WriteFailed:
        return "下载失败：安装程序无法保存到本机";
    case FetchResult::TooLarge:
        if (bounds.limitFromDocument)
            return "下载失败：安装程序大于服务器配置给出的大小（" + std::to_string(bounds.limit) +
                   " 字节）";
        return "下载失败：安装程序超过 " + MegabytesText(bounds.limit, false) + " MB 的上限";
    case FetchResult::NoDiskSpace:
        return "下载失败：磁盘空间不足（需要 " + MegabytesText(bounds.neededBytes, true) +
               " MB，可用 " + MegabytesText(bounds.freeBytes, false) + " MB）";
    }
    return std::string();
}

InstallResult InstallResultOf(const InstallerRun& run) {
    InstallResult result;
    result.runCode = run.result;
    result.exitCode = run.exitCode;
    if (run.result < 1) {
        result.outcome = "安装程序未能启动";
        return result;
    }
    if (run.stopped) {
        result.end = kInstallEndCancelled;
        result.outcome = kCancelledOutcome;
        return result;
    }
    if (!run.exitCode) {
        // Nothing says it failed: the row shows it ran, and the re-check tells the rest.
        result.end = kInstallEndInstalled;
        result.outcome = "安装程序已运行，退出码未知";
        return result;
    }
    const unsigned long code = *run.exitCode;
    if (code == 0) {
        result.end = kInstallEndInstalled;
        result.outcome = kInstalledOutcome;
    } else if (code == kRestartRequired || code == kRestartInitiated) {
        result.end = kInstallEndRestart;
        result.outcome = kRestartOutcome;
    } else if (code == kUserExit || code == kCancelled) {
        result.end = kInstallEndCancelled;
        result.outcome = kCancelledOutcome;
    } else if (code == kAlreadyRunning && run.waited) {
        result.outcome = "另一个安装程序仍在运行，请等它结束后重试（" + ExitCodeText(code) + "）";
    } else {
        result.outcome = ExitCodeText(code);
    }
    return result;
}

InstallResult RunInstaller(const std::filesystem::path& target, const OtherInstallWait& wait) {
    return InstallResultOf(RunElevatedAfterOthers(LocalPathText(target), wait));
}

InstallResult RunInstallerWith(const std::filesystem::path& target, const std::string& arguments,
                               bool package, const OtherInstallWait& wait) {
    ElevatedStart start = InstallerStart(LocalPathText(target));
    if (package) {
        start.program = SystemProgram("msiexec.exe");
        start.parameters = "/i \"" + LocalPathText(target) + "\" " + arguments;
    } else {
        start.parameters = arguments;
    }
    return InstallResultOf(RunElevatedAfterOthers(start, wait));
}

InstallResult RunPackageUpgrade(const std::filesystem::path& package,
                                const OtherInstallWait& wait) {
    ElevatedStart start;
    start.program = SystemProgram("msiexec.exe");
    start.parameters = "/i \"" + LocalPathText(package) + "\" /qn REBOOT=ReallySuppress";
    start.directory = LocalPathText(package.parent_path());
    return InstallResultOf(RunElevatedAfterOthers(start, wait));
}

void CaInstalls::Add(const std::string& fileName, const InstallResult& result) {
    // The code that decides the row: the first failure's, else the first that was not 0.
    const bool decisive = result.end == kInstallEndFailed || result.end == kInstallEndCancelled;
    if (result.exitCode && (!exitCode || *exitCode == 0 || (decisive && !failed && !cancelled)))
        exitCode = result.exitCode;
    switch (result.end) {
    case kInstallEndInstalled:
        return;
    case kInstallEndRestart:
        restart = true;
        return;
    case kInstallEndCancelled:
        cancelled = true;
        break;
    case kInstallEndFailed:
        failed = true;
        break;
    }
    failures.push_back(fileName + "：" + result.outcome);
}

void CaInstalls::AddFetchFailure(const std::string& fileName, const std::string& outcome) {
    failed = true;
    failures.push_back(fileName + "：" + outcome);
}

InstallEnd CaInstalls::End() const {
    if (failed)
        return kInstallEndFailed;
    if (cancelled)
        return kInstallEndCancelled;
    return restart ? kInstallEndRestart : kInstallEndInstalled;
}

std::string CaOutcomeText(const std::vector<std::string>& failures, bool restart) {
    if (failures.empty())
        return restart ? kRestartOutcome : kInstalledOutcome;
    std::string text;
    for (const std::string& failure : failures)
        text += (text.empty() ? "" : "；") + failure;
    return text;
}
