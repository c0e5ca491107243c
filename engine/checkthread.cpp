#include "engine/checkthread.h"

#include "engine/download/download.h"
#include "engine/download/part_files.h"
#include "engine/engine_log.h"
#include "engine/install/install_step.h"
#include "engine/install_paths.h"
#include "engine/job_contract.h"
#include "engine/region.h"
#include "engine/report/check_record.h"
#include "engine/server_address.h"
#include "engine/server_document.h"
#include "engine/upload/report_upload.h"
#include "engine/user_settings.h"

#include "probes/file_probes.h"
#include "probes/ie_settings.h"
#include "probes/registry.h"
#include "probes/textconv.h"
#include "probes/user_hive.h"

#include <QCoreApplication>
#include <QDebug>
#include <QString>

#include <chrono>
#include <exception>
#include <system_error>

namespace fs = std::filesystem;

#ifndef QUELDA_VERSION
#define QUELDA_VERSION "0"
#endif

CheckThread::CheckThread(int mode, int regionIndex, const std::string& ipPort,
                         const std::string& url, const std::string& spareText, int repairFlags,
                         std::shared_ptr<spdlog::logger> logger)
    : regionIndex(regionIndex), ipPort(ipPort), url(url), spareText(spareText), mode(mode),
      repairFlags(repairFlags), logger(std::move(logger)) {
    ParseReleaseVersion(QUELDA_VERSION, programVersion_);
    if (QCoreApplication::instance())
        SetProgramFile(QCoreApplication::applicationFilePath().toStdWString());
    RecordResults();
}

CheckThread::~CheckThread() {
    AwaitEnd();
}

void CheckThread::AwaitEnd() {
    wait();
    // QThread::wait orders memory through Qt's futex-based lock, which ThreadSanitizer does
    // not see; this lock, the worker's last act, shows it the same order.
    const std::lock_guard<std::mutex> ended(endMutex_);
}

FetchHooks CheckThread::InstallerHooks(HeldFile& installer, int& httpStatus,
                                       std::exception_ptr* folderError) {
    FetchHooks hooks;
    hooks.folderError = folderError;
    hooks.installer = &installer;
    hooks.httpStatus = &httpStatus;
    hooks.logger = logger;
    hooks.requireSha256 = docTrust_.verified;
    hooks.failure = &fetchFailure_;
    // A signal for every piece of a fast download would flood the panel's event queue.
    using Clock = std::chrono::steady_clock;
    constexpr auto kInterval = std::chrono::milliseconds(250);
    auto last = std::make_shared<Clock::time_point>(Clock::now() - kInterval);
    hooks.progress = [this, last, kInterval](std::uint64_t received, std::uint64_t total) {
        const Clock::time_point now = Clock::now();
        if (now - *last < kInterval && received != total)
            return;
        *last = now;
        emit DownloadBytes(static_cast<qint64>(received), static_cast<qint64>(total));
    };
    return hooks;
}

void CheckThread::EmitInstallOutcome(int row, const std::string& outcome) {
    if (!outcome.empty())
        emit InstallOutcomeSig(row, QString::fromStdString(outcome));
}

void CheckThread::EmitInstallEnd(int row, InstallEnd end,
                                 const std::optional<unsigned long>& exitCode) {
    emit InstallEndSig(row, end, exitCode ? static_cast<qint64>(*exitCode) : qint64(-1));
}

OtherInstallWait CheckThread::OtherInstallationWait() {
    const InstallWaitLimits limits = CurrentInstallWaitLimits();
    OtherInstallWait wait;
    wait.limit = limits.otherInstallation;
    wait.poll = limits.poll;
    wait.stop = [this] { return isInterruptionRequested() || DownloadsAborted(); };
    return wait;
}

InstallResult CheckThread::RunRowInstaller(int row, const Installer& one) {
    OtherInstallWait wait = OtherInstallationWait();
    wait.waiting = [this, row](bool waiting) {
        qDebug() << "thread installer waits for another installation:" << waiting;
        emit InstallWaitSig(row, waiting ? 1 : 0);
    };
    if (one.silentArgs.empty())
        return RunInstaller(one.target, wait);
    return RunInstallerWith(one.target, one.silentArgs, one.package, wait);
}

void CheckThread::run() {
    // Nothing may leave the thread; a run cut short here ends without its last signal.
    try {
        Dispatch();
    } catch (const std::exception& e) {
        qDebug() << "thread run exception" << e.what();
        ENGINE_LOG(logger, "thread run exception={} ", e.what());
    } catch (...) {
        qDebug() << "thread run exception";
        ENGINE_LOG(logger, "thread run exception={} ", "unknown");
    }
    emit JobEndSig();
    const std::lock_guard<std::mutex> ended(endMutex_);
}

void CheckThread::Dispatch() {
    switch (mode) {
    case kCheckJob:
        BeginReport();
        emit CheckStartSig(1);
        if (CheckNet() < 0) {
            emit CheckReportSig(report_);
            return;
        }
        CheckIE();
        CheckNetFra();
        CheckToolVer();
        CheckCaVer();
        RecordRows();
        emit CheckReportSig(report_);
        return;
    case kDotNetInstallJob:
        CheckNet();
        DownloadCsharp(true);
        return;
    case kToolInstallJob:
        CheckNet();
        DownloadToolVer(true);
        return;
    case kCaInstallJob:
        CheckNet();
        DownloadCaVer(true);
        return;
    case kUpdateJob:
        CheckNet();
        InstallUpdate();
        return;
    case kRepairJob:
        CheckNet();
        RepairAll();
        return;
    default:
        return;
    }
}

int CheckThread::CheckNet() {
    std::vector<CheckFact>& facts = report_.rows[kNetworkRow].facts;
    facts.clear();
    ServerAddress address;
    if (!ParseServerAddress(ipPort, address)) {
        facts.push_back(ServerFact(ipPort, nullptr));
        emit CheckNetSig(-1);
        return -1;
    }
    facts.push_back(ServerFact(ipPort, &address));
    docTrust_ = InitialTrust(docKeys_);
    std::string body, why;
    DocumentAnswer answer;
    int res = FetchServerDocument(address, url, kDocumentDeadline, body, why, &answer);
    facts.push_back(ResponseFact(address, url, answer.status,
                                 answer.error.empty() && res != 1 ? why : answer.error));
    if (!answer.error.empty()) {
        ENGINE_LOG(logger, "server document not fetched from {}: {} ({})",
                   ServerUrlText(address, url), answer.error, why);
        why.clear();
    }
    // The signature covers the bytes as served; nothing unverified is parsed.
    if (res == 1)
        res = CheckDocumentTrust(docKeys_, address, url, body, facts, docTrust_, logger);
    report_.documentSignature = docTrust_.state;
    if (res == 1) {
        res = ParseServerDocument(body, serverCfg, why);
        facts.push_back(DocumentFact(body.size(), res == 1      ? std::string()
                                                  : why.empty() ? "not JSON"
                                                                : why));
    }
    if (!why.empty())
        ENGINE_LOG(logger, "server document not used: {}", why);
    if (res == 1) {
        facts.push_back(RegionFact(serverCfg, RegionName(regionIndex)));
        report_.reportUrl = ReportUploadUrl(serverCfg);
        if (report_.reportUrl.empty() && serverCfg.contains("support"))
            ENGINE_LOG(logger, "support.reportUrl unusable, no upload offered");
        ReadReleaseOfferOfDocument();
    }
    emit CheckNetSig(res);
    return res == 1 ? 1 : -1;
}

void CheckThread::ReadReleaseOfferOfDocument() {
    report_.update = UpdateState();
    releaseOffer_.reset();
    if (!serverCfg.is_object() || !serverCfg.contains(kReleaseMember))
        return;
    if (!docTrust_.verified) {
        ENGINE_LOG(logger, "{} ignored: the server document is not signed", kReleaseMember);
        return;
    }
    ReleaseOffer offer;
    std::string why;
    if (!ReadReleaseOffer(serverCfg[kReleaseMember], offer, why)) {
        ENGINE_LOG(logger, "{} ignored: {}", kReleaseMember, why);
        return;
    }
    report_.update = EvaluateReleaseOffer(offer, programVersion_);
    if (!report_.update.available)
        return;
    releaseOffer_ = offer;
    ENGINE_LOG(logger, "release {} offered, this program is {}{}", report_.update.version,
               ReleaseVersionText(programVersion_),
               report_.update.mandatory
                   ? " (below the minimum " + report_.update.minimumVersion + ": no repair)"
                   : std::string());
    emit UpdateOfferSig(QString::fromStdString(report_.update.version),
                        QString::fromStdString(report_.update.notes), report_.update.mandatory);
}

bool CheckThread::RefusedForUpdate(std::string& outcome) {
    if (!report_.update.mandatory)
        return false;
    outcome = "未安装：本工具版本过低，请先更新到 " + report_.update.version;
    ENGINE_LOG(logger, "install refused: this program {} is below the minimum version {}",
               ReleaseVersionText(programVersion_), report_.update.minimumVersion);
    return true;
}

void CheckThread::CheckIE() {
    const std::string region = RegionName(regionIndex);
    std::string problem;
    const std::vector<std::string> hosts = RequiredSiteHosts(serverCfg, region, problem);
    if (!problem.empty())
        ENGINE_LOG(logger, "{}.ieSites ignored: {}", region, problem);
    ieMode_ = ReadIEMode(hosts);
    report_.system = SystemFactsOf(ieMode_);
    report_.ieHosts = hosts;
    ENGINE_LOG(logger, "windows {}", IEModeLogText(ieMode_));
    const std::string whose = UserHiveLogText(OpenUserHive(true));
    if (!whose.empty())
        ENGINE_LOG(logger, "{}", whose);

    int res = 1;
    if (CheckIESaveVerCfg() < 0 || CheckIETrustCfg() < 0 || CheckIESslCfg() < 0 ||
        CheckIEMaxConCfg() < 0)
        res = -1;
    // Where IE is retired the portal opens only in Edge's IE mode.
    if (!IEModeInOrder(ieMode_.state))
        res = -1;
    emit CheckIESig(res);
}

void CheckThread::CheckNetFra() {
    int res = 1;
    try {
        const nlohmann::json& region = Member(serverCfg, RegionName(regionIndex));
        const std::string path = TextMember(Member(region, "framework"), "path");
        std::string rootName, subKey;
        if (SplitRegPath(path, rootName, subKey) < 0)
            res = -1;
        // The ANSI registry functions take the local code page, the document is UTF-8.
        else if (RegKeyExistsEitherView(RegRoot(rootName).key(), Utf8ToGbk(subKey)) < 0)
            res = -2;
    } catch (const std::exception&) {
        res = -3;
    }
    emit CheckNetFraSig(res);
}

void CheckThread::CheckToolVer() {
    int res = 1;
    try {
        const nlohmann::json& tool = Member(Member(serverCfg, RegionName(regionIndex)), "tool");
        const std::string path = TextMember(tool, "path");
        const std::string key = TextMember(tool, "key");
        const std::string fileName = TextMember(tool, "fileName");
        const std::string fileVersion = TextMember(tool, "fileVersion");
        std::string rootName, subKey, location, installed;
        if (SplitRegPath(path, rootName, subKey) < 0) {
            res = -1;
        } else if (RegGetStrValueEitherView(RegRoot(rootName).key(), subKey, key, location) < 0) {
            res = -2;
        } else if (GetAppConfigVersion(InstallDirFromRegistryValue(location), fileName, installed) <
                   0) {
            res = -3;
        } else if (installed != fileVersion) {
            ENGINE_LOG(logger, "fileVer={} ,verStr = {}", fileVersion, installed);
            res = -4;
        }
    } catch (const std::exception&) {
        res = -3;
    }
    emit CheckToolVerSig(res);
}

void CheckThread::CheckCaVer() {
    int res = 1;
    const std::string region = RegionName(regionIndex);
    const bool shanxi = region == "shanxi";
    const bool hebei = region == "hebei";
    const bool neimeng = region == "neimeng";
    try {
        // One look at every entry: the row's code and the report's facts both come from it.
        const DriverListFindings found = ExamineDriverList(Member(serverCfg, region), neimeng);
        report_.rows[kCaRow].facts = CaFacts(found, region);
        if (!found.listRead) {
            ENGINE_LOG(logger, "driver list of region {} unreadable", region);
            emit CheckCAVerSig(-3);
            return;
        }
        // The first entry that is not in order decides.
        for (const DriverFindings& f : found.entries) {
            const DriverEntry& entry = f.entry;
            const std::string dirText = LogPathText(f.dir);
            switch (f.state) {
            case DriverState::Unreadable:
                qDebug() << "CheckCaVer exception" << f.error.c_str();
                ENGINE_LOG(logger, "exception={} ", f.error);
                res = -3;
                break;
            case DriverState::NoRegistryPath:
                res = -1;
                if (hebei)
                    ENGINE_LOG(logger, "RegGetStrValue regPath={},ret={} ", entry.path,
                               f.splitCode);
                else if (neimeng)
                    ENGINE_LOG(logger, "reg={} ", entry.path);
                break;
            case DriverState::NotInstalled:
                res = -2;
                if (shanxi)
                    ENGINE_LOG(logger, "RegGetStrValue regPath={},ret={} ", entry.path, f.readCode);
                else if (hebei)
                    ENGINE_LOG(logger, "RegGetStrValue regPath={},key:{},ret={} ", entry.path,
                               entry.key, f.readCode);
                else if (neimeng)
                    ENGINE_LOG(logger, "reg={} ,key = {}", entry.path, entry.key);
                break;
            case DriverState::NoFile:
                res = -3;
                if (neimeng)
                    ENGINE_LOG(logger, "filePath={} ,key = {}", dirText, entry.fileName);
                else
                    ENGINE_LOG(logger, "filePath={},fileName={} ", dirText, entry.fileName);
                break;
            case DriverState::Differs:
            case DriverState::Matches:
                if (shanxi)
                    qDebug() << static_cast<qlonglong>(f.expectedTime) << ","
                             << static_cast<qlonglong>(f.fileTime);
                if (f.state == DriverState::Differs) {
                    res = -4;
                    ENGINE_LOG(logger,
                               "webfileVer={} ,verStr = {},webFileTime={},updateTime={},path:{},"
                               "file:{}",
                               entry.fileVersion, f.version, static_cast<long long>(f.expectedTime),
                               static_cast<long long>(f.fileTime), dirText, entry.fileName);
                }
                break;
            }
            if (res != 1)
                break;
        }
        if (res == 1 && found.skfPresent)
            res = -5;
    } catch (const std::exception& e) {
        qDebug() << "CheckCaVer exception" << e.what();
        ENGINE_LOG(logger, "exception={} ", e.what());
        res = -3;
    }
    emit CheckCAVerSig(res);
}
