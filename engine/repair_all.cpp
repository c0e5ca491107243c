// Mode 4: the installers the panel selected, one after another. Writes no log records
// beyond the download's own retries and the installers' signature checks; its trace goes
// to the debug stream only.
#include "engine/checkthread.h"

#include "engine/download/download.h"
#include "engine/driver_entry.h"
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

namespace {
int SetBits(int flags) {
    return ((flags & 1) ? 1 : 0) + ((flags & 2) ? 1 : 0) + ((flags & 4) ? 1 : 0);
}
} // namespace

void CheckThread::RepairAll() {
    const unsigned progressStep = 90u / static_cast<unsigned>(1 + SetBits(repairFlags));
    unsigned stepIndex = 1;
    int csharp = 0;
    int tool = 0;
    int ca = 0;
    const std::string regionName = RegionName(regionIndex);

    emit UpdateProcess(10);

    if (repairFlags & 1) {
        qDebug() << "thread  DownloadCsharp";
        std::string outcome;
        std::optional<InstallResult> ran;
        try {
            const nlohmann::json& framework = Member(Member(serverCfg, regionName), "framework");
            const std::string installerUrl = TextMember(framework, "url");
            const fs::path target = RegionDir(regionName) / "csharp.exe";
            const std::optional<std::string> signer = ExpectedSigner(framework);
                        ServerAddress server;
            std::string path; // for the log
            ParseServerUrl(installerUrl, server, path);
            std::exception_ptr folderError;
            HeldFile installer;
            int status = 0;
            FetchHooks hooks = InstallerHooks(installer, status, &folderError);
            const FetchResult fetched =
                FetchInstaller(installerUrl, target, ExpectedSha256(framework), hooks);
            outcome = FetchOutcomeText(fetched, status, fetchFailure_);
            emit UpdateProcess(50);
            switch (fetched) {
            case FetchResult::FolderFailed:
                std::rethrow_exception(folderError);
            case FetchResult::RequestFailed:
            case FetchResult::ChecksumMismatch:
                csharp = -2;
                break;
            case FetchResult::OpenFailed:
            case FetchResult::WriteFailed:
                csharp = -1;
                break;
            case FetchResult::Saved: {
                if (!SignerAllowsStart(installer, target, signer, outcome, logger)) {
                    csharp = -2;
                    break;
                }
                ran = RunRowInstaller(kDotNetRow, target);
                outcome = ran->outcome;
                csharp = ran->runCode > 0 ? 1 : -4;
                break;
            }
            }
        } catch (const std::exception&) {
            csharp = -3;
        }
        emit UpdateProcess(static_cast<int>(progressStep));
        EmitInstallOutcome(kDotNetRow, outcome);
        if (ran)
            EmitInstallEnd(kDotNetRow, ran->end, ran->exitCode);
        emit DownloadCsharpSig(csharp);
        qDebug() << "thread  UpdateProcess:" << 2 * progressStep;
        stepIndex = 3;
    }

    if (repairFlags & 2) {
        qDebug() << "thread  DownloadToolVer";
        std::string outcome;
        std::optional<InstallResult> ran;
        try {
            const nlohmann::json& toolCfg = Member(Member(serverCfg, regionName), "tool");
            const std::string installerUrl = TextMember(toolCfg, "url");
            const fs::path target = RegionDir(regionName) / "tool.exe";
            const std::optional<std::string> signer = ExpectedSigner(toolCfg);
            qDebug() << "thread tool Get:" << QString::fromStdString(installerUrl);
            ServerAddress server;
            std::string path; // for the log
            ParseServerUrl(installerUrl, server, path);
            HeldFile installer;
            int status = 0;
            FetchHooks hooks = InstallerHooks(installer, status);
            const FetchResult fetched =
                FetchInstaller(installerUrl, target, ExpectedSha256(toolCfg), hooks);
            outcome = FetchOutcomeText(fetched, status, fetchFailure_);
            if (fetched == FetchResult::RequestFailed) {
                qDebug() << "thread tool get failed";
                tool = -2;
            } else {
                qDebug() << "thread tool Get success";
                if (fetched == FetchResult::OpenFailed) {
                    qDebug() << "thread tool file open failed";
                    tool = -1;
                } else if (fetched == FetchResult::WriteFailed) {
                    qDebug() << "thread tool file write failed";
                    tool = -1;
                } else if (fetched == FetchResult::ChecksumMismatch) {
                    qDebug() << "thread tool sha256 mismatch";
                    tool = -2;
                } else if (!SignerAllowsStart(installer, target, signer, outcome, logger)) {
                    tool = -2;
                } else {
                    qDebug() << "thread tool write success";
                    ran = RunRowInstaller(kToolRow, target);
                    outcome = ran->outcome;
                    if (ran->runCode > 0) {
                        qDebug() << "thread tool install success";
                        tool = 1;
                    } else {
                        qDebug() << "thread tool install failed";
                        tool = -4;
                    }
                }
            }
        } catch (const std::exception& e) {
            qDebug() << "thread tool get exception" << e.what();
            tool = -3;
        }
        emit UpdateProcess(static_cast<int>(stepIndex * progressStep));
        ++stepIndex;
        EmitInstallOutcome(kToolRow, outcome);
        if (ran)
            EmitInstallEnd(kToolRow, ran->end, ran->exitCode);
        emit DownloadToolSig(tool);
        qDebug() << "thread  UpdateProcess:" << stepIndex * progressStep;
    }

    if (repairFlags & 4) {
        qDebug() << "thread  DownloadToolVer";
        // The old middleware DLL goes only once the region's driver list has been read.
        bool listRead = false;
        CaInstalls installs;
        bool ranAny = false;
        std::string outcome;
        try {
            std::vector<const nlohmann::json*> entries;
            if (!DriverEntries(Member(serverCfg, regionName), entries))
                throw std::runtime_error("driver list unreadable");
            std::set<std::string> needInstall;
            for (const nlohmann::json* item : entries) {
                const DriverEntry entry = ReadDriverEntry(*item);
                if (DriverNeedsInstall(entry, false))
                    needInstall.insert(entry.fileName);
            }
            listRead = true;
            for (const nlohmann::json* itemPtr : entries) {
                const nlohmann::json& item = *itemPtr;
                const DriverEntry entry = ReadDriverEntry(item);
                const std::string installerUrl = TextMember(item, "url");
                if (needInstall.count(entry.fileName) == 0)
                    continue;
                const fs::path target = RegionDir(regionName) / TimeNamedInstaller();
                const std::optional<std::string> signer = ExpectedSigner(item);
                                ServerAddress server;
                std::string path; // for the log
                ParseServerUrl(installerUrl, server, path);
                HeldFile installer;
                int status = 0;
                FetchHooks hooks = InstallerHooks(installer, status);
                const FetchResult fetched =
                    FetchInstaller(installerUrl, target, ExpectedSha256(item), hooks);
                if (fetched != FetchResult::Saved) {
                    installs.AddFetchFailure(entry.fileName, FetchOutcomeText(fetched, status, fetchFailure_));
                    --ca;
                    continue;
                }
                if (std::string refused;
                    !SignerAllowsStart(installer, target, signer, refused, logger)) {
                    installs.failures.push_back(entry.fileName + "：" + refused);
                    --ca;
                    continue;
                }
                const InstallResult ran = RunRowInstaller(kCaRow, target);
                ranAny = true;
                installs.Add(entry.fileName, ran);
                if (ran.runCode < 1)
                    --ca;
            }
            outcome = CaOutcomeText(installs.failures, installs.restart);
        } catch (const std::exception&) {
            ca = -3;
        }
        if (ca == 0)
            ca = 1;
        std::string error;
        if (listRead && !RemoveSkfDll(error))
            qDebug() << "thread  SKFAPI20050.dll not deleted:" << QString::fromStdString(error);
        emit UpdateProcess(static_cast<int>(stepIndex * progressStep));
        ++stepIndex;
        EmitInstallOutcome(kCaRow, outcome);
        if (ranAny && !outcome.empty())
            EmitInstallEnd(kCaRow, installs.End(), installs.exitCode);
        emit DownloadCaSig(ca);
        qDebug() << "thread  UpdateProcess:" << stepIndex * progressStep;
    }

    emit RepairFinishSig(repairFlags, csharp, tool, ca);
}
