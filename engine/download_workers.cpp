// The single-installer jobs of modes 1 to 3: fetch, start elevated, report.
#include "engine/checkthread.h"

#include "engine/download/download.h"
#include "engine/driver_entry.h"
#include "engine/engine_log.h"
#include "engine/install_outcome.h"
#include "engine/install_paths.h"
#include "engine/installer_signer.h"
#include "engine/region.h"
#include "engine/server_address.h"

#include "probes/file_probes.h"
#include "probes/held_file.h"

#include <QDebug>
#include <QString>

#include <exception>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A log line, under the worker's own name, with an installer's exit code and what it means,
// when that is not 0 (an installer that succeeded adds nothing to the worker's lines).
#define LOG_EXIT_CODE(ran)                                                                         \
    do {                                                                                           \
        if (!(ran).exitCode || *(ran).exitCode != 0)                                               \
            ENGINE_LOG(logger, "installer exit code:{} {}", ExitCodeLogText(ran), (ran).outcome);  \
    } while (0)

namespace {
std::string ExitCodeLogText(const InstallResult& ran) {
    return ran.exitCode ? std::to_string(*ran.exitCode) : std::string("unknown");
}
} // namespace

void CheckThread::DownloadCsharp(bool showProgress) {
    int result = 0;
    std::string outcome;
    std::optional<InstallResult> ran;
    if (showProgress)
        emit UpdateProcess(0);
    try {
        const nlohmann::json& region = Member(serverCfg, RegionName(regionIndex));
        if (showProgress)
            emit UpdateProcess(5);
        const fs::path target = RegionDir(RegionName(regionIndex)) / "csharp.exe";
        const nlohmann::json& framework = Member(region, "framework");
        const std::string installerUrl = TextMember(framework, "url");
        const std::string sha256 = ExpectedSha256(framework);
        const std::optional<std::string> signer = ExpectedSigner(framework);
        ENGINE_LOG(logger, "down c# url:{} ", installerUrl);
        ServerAddress server;
        std::string path; // for the log
        ParseServerUrl(installerUrl, server, path);
        std::exception_ptr folderError;
        HeldFile installer;
        int status = 0;
        FetchHooks hooks = InstallerHooks(installer, status, &folderError);
        const FetchResult fetched = FetchInstaller(installerUrl, target, sha256, hooks);
        outcome = FetchOutcomeText(fetched, status, fetchFailure_);
        if (showProgress)
            emit UpdateProcess(50);
        if (fetched == FetchResult::RequestFailed) {
            ENGINE_LOG(logger, "req failed");
            result = -2;
        } else if (fetched == FetchResult::FolderFailed) {
            std::rethrow_exception(folderError);
        } else if (fetched == FetchResult::OpenFailed) {
            ENGINE_LOG(logger, "out file save failed");
            result = -1;
        } else {
            if (showProgress)
                emit UpdateProcess(60);
            if (fetched == FetchResult::WriteFailed) {
                ENGINE_LOG(logger, "file write failed={} ", LogPathText(target));
                result = -1;
            } else if (fetched == FetchResult::ChecksumMismatch) {
                ENGINE_LOG(logger, "sha256 mismatch file:{} ", LogPathText(target));
                result = -2;
            } else if (!SignerAllowsStart(installer, target, signer, outcome, logger)) {
                result = -2;
            } else {
                ENGINE_LOG(logger, "save c# install:{} ", LogPathText(target));
                ran = RunRowInstaller(kDotNetRow, target);
                outcome = ran->outcome;
                const int code = ran->runCode;
                ENGINE_LOG(logger, "install c# code:{} ", code);
                LOG_EXIT_CODE(*ran);
                result = code > 0 ? 1 : -4;
            }
        }
    } catch (const std::exception& e) {
        ENGINE_LOG(logger, "catch exception :{}", e.what());
        result = -3;
    }
    if (showProgress)
        emit UpdateProcess(100);
    EmitInstallOutcome(kDotNetRow, outcome);
    if (ran)
        EmitInstallEnd(kDotNetRow, ran->end, ran->exitCode);
    emit DownloadCsharpSig(result);
}

void CheckThread::DownloadToolVer(bool showProgress) {
    int result = 0;
    std::string outcome;
    std::optional<InstallResult> ran;
    if (showProgress)
        emit UpdateProcess(0);
    try {
        const nlohmann::json& region = Member(serverCfg, RegionName(regionIndex));
        if (showProgress)
            emit UpdateProcess(5);
        const fs::path target = RegionDir(RegionName(regionIndex)) / "tool.exe";
        const nlohmann::json& tool = Member(region, "tool");
        const std::string installerUrl = TextMember(tool, "url");
        const std::string sha256 = ExpectedSha256(tool);
        const std::optional<std::string> signer = ExpectedSigner(tool);
        ENGINE_LOG(logger, "down C# url={} ", installerUrl);
        qDebug() << "thread tool Get:" << QString::fromStdString(installerUrl);
        ServerAddress server;
        std::string path; // for the log
        ParseServerUrl(installerUrl, server, path);
        std::exception_ptr folderError;
        HeldFile installer;
        int status = 0;
        FetchHooks hooks = InstallerHooks(installer, status, &folderError);
        const FetchResult fetched = FetchInstaller(installerUrl, target, sha256, hooks);
        outcome = FetchOutcomeText(fetched, status, fetchFailure_);
        ENGINE_LOG(logger, "Get C# over ");
        qDebug() << QString::fromStdString(path);
        if (showProgress)
            emit UpdateProcess(50);
        if (fetched == FetchResult::RequestFailed) {
            qDebug() << "thread tool get failed";
            ENGINE_LOG(logger, " thread tool get failed ");
            result = -2;
        } else {
            if (fetched == FetchResult::FolderFailed)
                std::rethrow_exception(folderError);
            ENGINE_LOG(logger, "thread tool Get succes ");
            if (fetched == FetchResult::OpenFailed) {
                qDebug() << "thread tool file open failed";
                ENGINE_LOG(logger, " thread tool file open failed ");
                result = -1;
            } else {
                if (showProgress)
                    emit UpdateProcess(60);
                if (fetched == FetchResult::WriteFailed) {
                    qDebug() << "thread tool file write failed";
                    ENGINE_LOG(logger, "file write failed={} ", LogPathText(target));
                    result = -1;
                } else if (fetched == FetchResult::ChecksumMismatch) {
                    qDebug() << "thread tool sha256 mismatch";
                    ENGINE_LOG(logger, "sha256 mismatch file:{} ", LogPathText(target));
                    result = -2;
                } else if (!SignerAllowsStart(installer, target, signer, outcome, logger)) {
                    result = -2;
                } else {
                    ENGINE_LOG(logger, "thread tool write success ");
                    qDebug() << "thread tool write success";
                    ENGINE_LOG(logger, "start install : {} ", LogPathText(target));
                    ran = RunRowInstaller(kToolRow, target);
                    outcome = ran->outcome;
                    const int code = ran->runCode;
                    ENGINE_LOG(logger, " install code: {} ", code);
                    LOG_EXIT_CODE(*ran);
                    if (code < 1) {
                        qDebug() << "thread tool install failed";
                        ENGINE_LOG(logger, " thread tool install failed: {} ", code);
                        result = -4;
                    } else {
                        qDebug() << "thread tool install success";
                        ENGINE_LOG(logger, " thread tool install success: {} ", code);
                        result = 1;
                    }
                }
            }
        }
    } catch (const std::exception& e) {
        qDebug() << "thread tool get exception" << e.what();
        ENGINE_LOG(logger, " thread tool get exception ");
        result = -3;
    }
    if (showProgress)
        emit UpdateProcess(100);
    EmitInstallOutcome(kToolRow, outcome);
    if (ran)
        EmitInstallEnd(kToolRow, ran->end, ran->exitCode);
    emit DownloadToolSig(result);
}

void CheckThread::DownloadCaVer(bool showProgress) {
    if (showProgress)
        emit UpdateProcess(0);
    int ca = 0;
    const std::string regionName = RegionName(regionIndex);
    bool listRead = false; // the old middleware DLL goes only after this
    CaInstalls installs;   // what each installer came to
    bool ranAny = false;
    std::string outcome;
    try {
        const nlohmann::json& region = Member(serverCfg, regionName);
        if (showProgress)
            emit UpdateProcess(1);
        std::vector<const nlohmann::json*> entries;
        if (!DriverEntries(region, entries))
            throw std::runtime_error("driver list of region " + regionName + " unreadable");
        std::set<std::string> needInstall;
        for (const nlohmann::json* item : entries) {
            const DriverEntry entry = ReadDriverEntry(*item);
            ENGINE_LOG(logger, "check {} start", entry.fileName);
            if (DriverNeedsInstall(entry, true)) {
                needInstall.insert(entry.fileName);
                ENGINE_LOG(logger, "needInstall {} ", entry.fileName);
            }
        }
        listRead = true;
        if (showProgress)
            emit UpdateProcess(10);
        const std::size_t count = needInstall.size();
        ENGINE_LOG(logger, "needInstall size : {} ", count);
        // Two progress steps per installer, spread over 10..55.
        const double s = count == 0 ? 0.0 : (90.0 / (3.0 * static_cast<double>(count))) * 0.5;
        int k = 1;
        auto progress = [&](int offset) { emit UpdateProcess(static_cast<int>(k * s + offset)); };

        for (const nlohmann::json* itemPtr : entries) {
            const nlohmann::json& item = *itemPtr;
            const DriverEntry entry = ReadDriverEntry(item);
            const std::string installerUrl = TextMember(item, "url");
            if (needInstall.count(entry.fileName) == 0)
                continue;
            ENGINE_LOG(logger, "ready to install  : {} ", entry.fileName);
            const fs::path target = RegionDir(regionName) / TimeNamedInstaller();
            const std::optional<std::string> signer = ExpectedSigner(item);
                        ServerAddress server;
            std::string path; // for the log
            ParseServerUrl(installerUrl, server, path);
            ENGINE_LOG(logger, "url ={},file:{}", path, LogPathText(target));
            HeldFile installer;
            int status = 0;
            FetchHooks hooks = InstallerHooks(installer, status);
            const FetchResult fetched =
                FetchInstaller(installerUrl, target, ExpectedSha256(item), hooks);
            if (fetched != FetchResult::Saved)
                installs.AddFetchFailure(entry.fileName, FetchOutcomeText(fetched, status, fetchFailure_));
            if (fetched == FetchResult::RequestFailed) {
                ENGINE_LOG(logger, "get url failed={} ", path);
                --ca;
                continue;
            }
            ++k;
            progress(10);
            if (fetched == FetchResult::OpenFailed) {
                --ca;
                ENGINE_LOG(logger, "file open failed={} ", LogPathText(target));
                continue;
            }
            ++k;
            progress(10);
            if (fetched == FetchResult::WriteFailed) {
                ENGINE_LOG(logger, "file write failed={} ", LogPathText(target));
                --ca;
            } else if (fetched == FetchResult::ChecksumMismatch) {
                ENGINE_LOG(logger, "sha256 mismatch file:{} ", LogPathText(target));
                --ca;
            } else if (std::string refused;
                       !SignerAllowsStart(installer, target, signer, refused, logger)) {
                installs.failures.push_back(entry.fileName + "：" + refused);
                --ca;
            } else {
                ENGINE_LOG(logger, "installCmd ={}", LogPathText(target));
                const InstallResult ran = RunRowInstaller(kCaRow, target);
                ranAny = true;
                installs.Add(entry.fileName, ran);
                LOG_EXIT_CODE(ran);
                const int code = ran.runCode;
                if (code < 1) {
                    ENGINE_LOG(logger, "file ={} install failed", LogPathText(target));
                    --ca;
                }
            }
            progress(9);
        }
        if (ca == 0)
            ca = 1;
        outcome = CaOutcomeText(installs.failures, installs.restart);
    } catch (const std::exception& e) {
        ENGINE_LOG(logger, "exception happend : {} ", e.what());
        ca = -3;
    }
    std::string error;
    if (listRead && !RemoveSkfDll(error))
        ENGINE_LOG(logger, "delete failed file:{} ,error={} ", LogPathText(SkfDllPath()), error);
    if (showProgress)
        emit UpdateProcess(100);
    EmitInstallOutcome(kCaRow, outcome);
    if (ranAny && !outcome.empty())
        EmitInstallEnd(kCaRow, installs.End(), installs.exitCode);
    emit DownloadCaSig(ca);
}
