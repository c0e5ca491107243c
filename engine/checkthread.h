#pragma once

#include "engine/ie_mode.h"
#include "engine/install_outcome.h"
#include "engine/job_contract.h"
#include "engine/report/check_report.h"
#include "engine/transport/transport.h"
#include "engine/trust/document_check.h"

#include <QString>
#include <QThread>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <spdlog/logger.h>
#include <string>

class HeldFile;
struct FetchHooks;
struct InstallItem;
struct InstallOptions;
struct InstallPoints;
struct InstallTexts;
struct Installer;

// One job on a thread of its own: a check, a single installer (.NET Framework, bidding tool,
// CA drivers) or a one-click repair, its mode a JobMode and a repair's flags RepairFlags
// (job_contract.h). Results leave only by signal, as the result codes there say.
// The object outlives its thread: its destructor waits for the thread to end.
class CheckThread : public QThread {
    Q_OBJECT

  public:
    CheckThread(int mode, int regionIndex, const std::string& ipPort, const std::string& url,
                const std::string& spareText, int repairFlags,
                std::shared_ptr<spdlog::logger> logger);
    ~CheckThread() override;

    // The keys the server document must be signed with (none: it is used unsigned). Set
    // before start().
    void SetDocumentKeys(DocumentKeys keys) { docKeys_ = std::move(keys); }

    // The version this program counts as its own when it weighs a release offer (by
    // default its build's). Set before start().
    void SetProgramVersion(const ReleaseVersion& version) { programVersion_ = version; }
    // The running program (its folder and file name), which the update job replaces. Set
    // before start().
    void SetProgramFile(const std::filesystem::path& program) {
        programDir_ = program.parent_path();
        programFile_ = program.filename();
    }

    // Installers are started with their entries' `silentArgs` (a repair with nobody at the
    // screen); otherwise with no arguments, as the window starts them. Set before start().
    void SetSilentInstallers(bool silent) { silentInstallers_ = silent; }

    // What the last check run (mode 0) found; read it once AwaitEnd has returned.
    const CheckReport& Report() const { return report_; }

    // Returns once the thread has ended (at once if it never started), with everything the
    // worker wrote visible to the caller (QThread::wait alone does not show ThreadSanitizer
    // that order). A derived class calls it first in its own destructor, so that no part of
    // the object is destroyed while the thread may still use it.
    void AwaitEnd();

  signals:
    void CheckStartSig(int res);
    void CheckNetSig(int res);
    void CheckIESig(int res);
    void CheckNetFraSig(int res);
    void CheckToolVerSig(int res);
    void CheckCAVerSig(int res);
    void DownloadToolSig(int res);
    void DownloadCaSig(int res);
    void DownloadCsharpSig(int res);
    void UpdateProcess(int res);
    // Bytes of the current installer received so far and its size (0 when unknown), a
    // few times a second while it downloads.
    void DownloadBytes(qint64 received, qint64 total);
    void RepairFinishSig(int flag, int csharp, int tool, int ca);
    // How an install of a row's item (a CheckRowIndex) ended, in Chinese ("下载失败：HTTP
    // 404", "安装程序退出码 1603", ...), just before that item's Download...Sig; not sent
    // when the job ended on a document fault.
    void InstallOutcomeSig(int row, const QString& outcome);
    // How the installer of a row's item ended (an InstallEnd) and its exit code (-1 when
    // unknown), after its InstallOutcomeSig; only for an installer that was started.
    void InstallEndSig(int row, int end, qint64 exitCode);
    // The row's installer found another installation running and waits for it (1), or has
    // stopped waiting (0). requestInterruption() ends such a wait.
    void InstallWaitSig(int row, int waiting);
    // The record of a check run, after the run's last result signal.
    void CheckReportSig(const CheckReport& report);
    // The end of the job, after its last result (also when it was cut short), as the
    // worker's last use of this object. Act on the end and release the object here, not on
    // QThread::finished: Qt's own delivery of finished reads the object on the worker after
    // run() has returned, ordered only by Qt's futex-based locks that ThreadSanitizer
    // cannot see.
    void JobEndSig();
    // A signed server document offers a release newer than this program (`version`
    // "a.b.c.d", its notes); `mandatory`: this program is below the lowest version that may
    // repair. After CheckNetSig.
    void UpdateOfferSig(const QString& version, const QString& notes, bool mandatory);
    // How the update job ended (kResultGood, kUpdateNothing, kUpdateRefused, kUpdateFailed)
    // and what to tell the user.
    void UpdateResultSig(int result, const QString& text);

  protected:
    void run() final;
    // The job of the thread's mode.
    virtual void Dispatch();

  private:
    // Fetches the server configuration document into serverCfg; emits CheckNetSig and
    // returns 1 or -1.
    int CheckNet();
    void CheckIE();
    void CheckNetFra();
    void CheckToolVer();
    void CheckCaVer();
    void DownloadCsharp(bool showProgress);
    void DownloadToolVer(bool showProgress);
    void DownloadCaVer(bool showProgress);
    void RepairAll();
    // The release that the document's "envcheck" offers, from a verified document only.
    void ReadReleaseOfferOfDocument();
    // With a mandatory update, an install job installs nothing: true, with the record.
    bool RefusedForUpdate(std::string& outcome);
    // The update job (engine/update/update_job.cpp).
    void InstallUpdate();
    void BeginReport();
    void RecordRows();
    void RecordResults();
    // The hooks of one installer download: it is held in `installer`, the last response's
    // HTTP status lands in `httpStatus`, what failed in the transport in fetchFailure_, and
    // its bytes are reported by DownloadBytes.
    FetchHooks InstallerHooks(HeldFile& installer, int& httpStatus,
                              std::exception_ptr* folderError = nullptr);
    void EmitInstallOutcome(int row, const std::string& outcome);
    void EmitInstallEnd(int row, InstallEnd end, const std::optional<unsigned long>& exitCode);
    // Starts a row's downloaded installer and waits for it, and after exit code 1618 for the
    // other installation (InstallWaitSig), until the job is cancelled or the program ends.
    InstallResult RunRowInstaller(int row, const Installer& one);
    // How an installer that found another installation running waits for it: the limits in
    // force, ended by the job's cancellation or the program's end.
    OtherInstallWait OtherInstallationWait();
    // The install step (engine/install/install_step.cpp) that the single installs and the
    // repair sequence share, `how` saying where they differ: a row's installer, or those of
    // the CA drivers that need one. Each ends with the step's last progress value, the row's
    // outcome and its result signal, and returns the result.
    int InstallRowItem(const InstallItem& item, const InstallOptions& how);
    int InstallCaDrivers(const InstallOptions& how);
    // One installer's download (held in `installer`) and its checks: size, SHA-256, signer.
    // kResultGood when it may be used, else the step's result code.
    int FetchVerified(Installer& one, const InstallTexts& texts, const InstallOptions& how,
                      const InstallPoints& at, HeldFile& installer);
    // One installer's way: download (held), verify, launch. Returns its result code.
    int FetchAndStart(int row, Installer& one, const InstallTexts& texts, const InstallOptions& how,
                      const InstallPoints& at);
    void FinishInstall(int row, const InstallOptions& how, const std::string& outcome,
                       const InstallResult* ran, void (CheckThread::*resultSignal)(int),
                       int result);
    // UpdateProcess(value), unless value is kNoProgress.
    void EmitProgress(int value);

    nlohmann::json serverCfg;
    int regionIndex;
    std::string ipPort;
    std::string url;
    std::string spareText;
    int mode;
    int repairFlags;
    std::shared_ptr<spdlog::logger> logger;
    CheckReport report_;
    // Taken by the worker as it ends and by AwaitEnd after the thread has ended.
    std::mutex endMutex_;
    IEModeReading ieMode_;
    DocumentKeys docKeys_;
    DocumentTrust docTrust_;
    TransportFailure fetchFailure_;
    ReleaseVersion programVersion_;
    std::optional<ReleaseOffer> releaseOffer_;
    std::filesystem::path programDir_;
    std::filesystem::path programFile_;
    bool silentInstallers_ = false;
};
