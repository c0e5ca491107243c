#include "engine/install_outcome.h"

#include "engine/install_paths.h"

#include "probes/elevated.h"

std::string FetchOutcomeText(FetchResult fetched, int httpStatus, const TransportFailure& failure) {
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
        return "下载失败：sha256 不符";
    case FetchResult::FolderFailed:
        return "下载失败：下载目录无法创建";
    case FetchResult::OpenFailed:
    case FetchResult::WriteFailed:
        return "下载失败：安装程序无法保存到本机";
    }
    return std::string();
}

std::string RunOutcomeText(int runCode, const std::optional<unsigned long>& exitCode) {
    if (runCode < 1)
        return "安装程序未能启动";
    if (!exitCode)
        return "安装程序已运行，退出码未知";
    if (*exitCode == 0)
        return kInstalledOutcome;
    return "安装程序退出码 " + std::to_string(*exitCode);
}

int RunInstaller(const std::filesystem::path& target, std::string& outcome) {
    std::optional<unsigned long> exitCode;
    const int code = RunElevated(LocalPathText(target), &exitCode);
    outcome = RunOutcomeText(code, exitCode);
    return code;
}

std::string CaOutcomeText(const std::vector<std::string>& failures) {
    if (failures.empty())
        return kInstalledOutcome;
    std::string text;
    for (const std::string& failure : failures)
        text += (text.empty() ? "" : "；") + failure;
    return text;
}
