// The install step of every installer job: download into a fresh folder of the region's, verify the
// held file (size, SHA-256, signer), launch it elevated and report the outcome.
#include "engine/install/install_step.h"

#include "engine/driver_entry.h"
#include "engine/engine_log.h"
#include "engine/install_paths.h"
#include "engine/installer_signer.h"
#include "engine/job_contract.h"
#include "engine/region.h"
#include "engine/server_address.h"

#include "common/text/ascii.h"
#include "probes/held_file.h"

#include <QDebug>
#include <QString>

#include <exception>
#include <set>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

// A record, under the caller's source line, when the job writes records.
#define INSTALL_LOG(how, ...)                                                                      \
    do {                                                                                           \
        if ((how).writeLog)                                                                        \
            ENGINE_LOG(logger, __VA_ARGS__);                                                       \
    } while (0)

// The lines of one point (an InstallLine) with its value.
#define INSTALL_SAY(how, line, value)                                                              \
    do {                                                                                           \
        const InstallLine& said_ = (line);                                                         \
        if (said_.record)                                                                          \
            INSTALL_LOG(how, "{}", FilledIn(said_.record, (value)));                               \
        if (said_.debug)                                                                           \
            qDebug().noquote() << QString::fromStdString(FilledIn(said_.debug, (value)));          \
    } while (0)

namespace {

// `text` with its "{}" replaced by `value`, as the log's formatting puts it.
std::string FilledIn(const char* text, const std::string& value) {
    std::string out(text);
    const std::size_t at = out.find("{}");
    if (at != std::string::npos)
        out.replace(at, 2, value);
    return out;
}

std::string ExitCodeLogText(const InstallResult& ran) {
    return ran.exitCode ? std::to_string(*ran.exitCode) : std::string("unknown");
}

// After the step, the installer's own folder goes, with all in it, unless the installer was
// started and its end is not known (it may still run from there: a later run's sweep takes
// the folder then).
void LeaveRunDir(const Installer& one) {
    if (!one.target.empty() && !(one.ran && one.ran->runCode > 0 && !one.ran->exitCode))
        RemoveRunDir(one.target);
}

void Reach(const std::function<void()>& point) {
    if (point)
        point();
}

// Reads what the download needs from an installer's entry; `target` is made (the download
// folder) by the caller once the URL has been read.
Installer InstallerOf(const nlohmann::json& entry, const std::string& url, fs::path target,
                      bool silent) {
    Installer one;
    if (silent)
        one.silentArgs = SilentArgs(entry);
    one.url = url;
    one.target = std::move(target);
    one.signer = ExpectedSigner(entry);
    one.sha256 = ExpectedSha256(entry);
    one.size = ExpectedSize(entry);
    ServerAddress server;
    ParseServerUrl(url, server, one.path);
    // A Windows Installer package (its URL's name says so) is started through msiexec, which
    // wants it under a name that ends in .msi.
    const std::string name = one.path.substr(0, one.path.find_first_of("?#"));
    if (silent && name.size() >= 4 && ascii::Lower(name.substr(name.size() - 4)) == ".msi") {
        one.package = true;
        one.target.replace_extension(".msi");
    }
    return one;
}

// The row items say both halves of every line (nullptr: no debug line); the CA drivers'
// step writes records only.
InstallTexts DotNetTexts() {
    InstallTexts t;
    t.url = {"down c# url:{} ", nullptr};
    t.requestFailed = {"req failed", nullptr};
    t.openFailed = {"out file save failed", nullptr};
    t.writeFailed = {"file write failed={} ", nullptr};
    t.checksum = {"sha256 mismatch file:{} ", nullptr};
    t.starting = {"save c# install:{} ", nullptr};
    t.runCode = {"install c# code:{} ", nullptr};
    t.exception = {"catch exception :{}", nullptr};
    return t;
}

InstallTexts ToolTexts() {
    InstallTexts t;
    t.url = {"down C# url={} ", "thread tool Get: \"{}\""};
    t.fetched = {"Get C# over ", "\"{}\""};
    t.requestFailed = {" thread tool get failed ", "thread tool get failed"};
    t.folderReady = {"thread tool Get succes ", "thread tool Get success"};
    t.openFailed = {" thread tool file open failed ", "thread tool file open failed"};
    t.writeFailed = {"file write failed={} ", "thread tool file write failed"};
    t.checksum = {"sha256 mismatch file:{} ", "thread tool sha256 mismatch"};
    t.written = {"thread tool write success ", "thread tool write success"};
    t.starting.record = "start install : {} ";
    t.runCode.record = " install code: {} ";
    t.failed = {" thread tool install failed: {} ", "thread tool install failed"};
    t.installed = {" thread tool install success: {} ", "thread tool install success"};
    t.exception = {" thread tool get exception ", "thread tool get exception {}"};
    return t;
}

InstallTexts CaTexts() {
    InstallTexts t;
    t.requestFailed.record = "get url failed={} ";
    t.openFailed.record = "file open failed={} ";
    t.writeFailed.record = "file write failed={} ";
    t.checksum.record = "sha256 mismatch file:{} ";
    t.starting.record = "installCmd ={}";
    t.exception.record = "exception happend : {} ";
    return t;
}

} // namespace

const InstallItem& DotNetInstall() {
    static const InstallItem item{kDotNetRow, "framework", "csharp.exe", DotNetTexts(),
                                  &CheckThread::DownloadCsharpSig};
    return item;
}

const InstallItem& ToolInstall() {
    static const InstallItem item{kToolRow, "tool", "tool.exe", ToolTexts(),
                                  &CheckThread::DownloadToolSig};
    return item;
}

void CheckThread::EmitProgress(int value) {
    if (value != kNoProgress)
        emit UpdateProcess(value);
}

int CheckThread::FetchVerified(Installer& one, const InstallTexts& texts, const InstallOptions& how,
                               const InstallPoints& at, HeldFile& installer) {
    // Download: the body goes to the target and stays held from before its check.
    std::exception_ptr folderError;
    int status = 0;
    FetchHooks hooks = InstallerHooks(installer, status, &folderError);
    FetchBounds bounds;
    hooks.maxBytes = one.size;
    hooks.spaceFolder = kDownloadsFolder;
    hooks.bounds = &bounds;
    one.fetched = FetchInstaller(one.url, one.target, one.sha256, hooks);
    one.outcome = FetchOutcomeText(one.fetched, status, fetchFailure_, bounds);
    INSTALL_SAY(how, texts.fetched, one.path);
    Reach(at.fetched);
    if (one.fetched == FetchResult::RequestFailed || one.fetched == FetchResult::TooLarge ||
        one.fetched == FetchResult::NoDiskSpace) {
        INSTALL_SAY(how, texts.requestFailed, one.path);
        return kInstallNotFetched;
    }
    if (one.fetched == FetchResult::FolderFailed)
        std::rethrow_exception(folderError);
    INSTALL_SAY(how, texts.folderReady, std::string());
    Reach(at.folderReady);
    if (one.fetched == FetchResult::OpenFailed) {
        INSTALL_SAY(how, texts.openFailed, LogPathText(one.target));
        return kInstallNotSaved;
    }
    Reach(at.opened);

    // Verify the held file: whole, the expected SHA-256, the expected signer.
    if (one.fetched == FetchResult::WriteFailed) {
        INSTALL_SAY(how, texts.writeFailed, LogPathText(one.target));
        return kInstallNotSaved;
    }
    if (one.fetched == FetchResult::ChecksumMismatch) {
        INSTALL_SAY(how, texts.checksum, LogPathText(one.target));
        return kInstallNotFetched;
    }
    if (!SignerAllowsStart(installer, one.target, one.signer, one.outcome, logger))
        return kInstallNotFetched;
    INSTALL_SAY(how, texts.written, std::string());
    return kResultGood;
}

int CheckThread::FetchAndStart(int row, Installer& one, const InstallTexts& texts,
                               const InstallOptions& how, const InstallPoints& at) {
    HeldFile installer; // from before its check to its start
    const int fetched = FetchVerified(one, texts, how, at, installer);
    if (fetched != kResultGood)
        return fetched;

    // Launch, and wait for its end.
    INSTALL_SAY(how, texts.starting, LogPathText(one.target));
    one.ran = RunRowInstaller(row, one);
    one.outcome = one.ran->outcome;
    INSTALL_SAY(how, texts.runCode, std::to_string(one.ran->runCode));
    // An installer that succeeded adds nothing to these lines.
    if (!one.ran->exitCode || *one.ran->exitCode != 0)
        INSTALL_LOG(how, "installer exit code:{} {}", ExitCodeLogText(*one.ran), one.ran->outcome);
    return one.ran->runCode > 0 ? kResultGood : kInstallNotStarted;
}

void CheckThread::FinishInstall(int row, const InstallOptions& how, const std::string& outcome,
                                const InstallResult* ran, void (CheckThread::*resultSignal)(int),
                                int result) {
    EmitProgress(how.progress.end);
    EmitInstallOutcome(row, outcome);
    if (ran)
        EmitInstallEnd(row, ran->end, ran->exitCode);
    emit(this->*resultSignal)(result);
}

int CheckThread::InstallRowItem(const InstallItem& item, const InstallOptions& how) {
    if (how.debugLabel)
        qDebug() << how.debugLabel;
    EmitProgress(how.progress.start);
    int result = 0;
    Installer one;
    if (RefusedForUpdate(one.outcome)) {
        FinishInstall(item.row, how, one.outcome, nullptr, item.resultSignal, kInstallFault);
        return kInstallFault;
    }
    try {
        const std::string regionName = RegionName(regionIndex);
        const nlohmann::json& entry = Member(Member(serverCfg, regionName), item.member);
        EmitProgress(how.progress.region);
        const std::string installerUrl = TextMember(entry, "url");
        one = InstallerOf(entry, installerUrl, FreshRunDir(regionName) / item.fileName,
                          silentInstallers_);
        INSTALL_SAY(how, item.texts.url, one.url);
        InstallPoints at;
        at.fetched = [&] { EmitProgress(how.progress.fetched); };
        at.opened = [&] { EmitProgress(how.progress.opened); };
        result = FetchAndStart(item.row, one, item.texts, how, at);
        LeaveRunDir(one);
        if (one.ran) {
            const std::string code = std::to_string(one.ran->runCode);
            if (result == kResultGood)
                INSTALL_SAY(how, item.texts.installed, code);
            else
                INSTALL_SAY(how, item.texts.failed, code);
        }
    } catch (const std::exception& e) {
        INSTALL_SAY(how, item.texts.exception, std::string(e.what()));
        result = kInstallFault;
    }
    FinishInstall(item.row, how, one.outcome, one.ran ? &*one.ran : nullptr, item.resultSignal,
                  result);
    return result;
}

int CheckThread::InstallCaDrivers(const InstallOptions& how) {
    static const InstallTexts texts = CaTexts();
    if (how.debugLabel)
        qDebug() << how.debugLabel;
    EmitProgress(how.progress.start);
    int ca = 0;
    const std::string regionName = RegionName(regionIndex);
    bool listRead = false; // the old middleware DLL goes only after this
    CaInstalls installs;   // what each installer came to
    bool ranAny = false;
    std::string outcome;
    if (RefusedForUpdate(outcome)) {
        FinishInstall(kCaRow, how, outcome, nullptr, &CheckThread::DownloadCaSig, kInstallFault);
        return kInstallFault;
    }
    try {
        const nlohmann::json& region = Member(serverCfg, regionName);
        EmitProgress(how.progress.region);
        std::vector<const nlohmann::json*> entries;
        if (!DriverEntries(region, entries))
            throw std::runtime_error("driver list of region " + regionName + " unreadable");
        std::set<std::string> needInstall;
        for (const nlohmann::json* item : entries) {
            const DriverEntry entry = ReadDriverEntry(*item);
            INSTALL_LOG(how, "check {} start", entry.fileName);
            if (DriverNeedsInstall(entry, how.stripQuotes)) {
                needInstall.insert(entry.fileName);
                INSTALL_LOG(how, "needInstall {} ", entry.fileName);
            }
        }
        listRead = true;
        EmitProgress(how.progress.listed);
        const std::size_t count = needInstall.size();
        INSTALL_LOG(how, "needInstall size : {} ", count);
        // Two progress steps per installer, spread over 10..55.
        const double s = count == 0 ? 0.0 : (90.0 / (3.0 * static_cast<double>(count))) * 0.5;
        int k = 1;
        auto spread = [&](int offset) { emit UpdateProcess(static_cast<int>(k * s + offset)); };

        for (const nlohmann::json* item : entries) {
            const DriverEntry entry = ReadDriverEntry(*item);
            const std::string installerUrl = TextMember(*item, "url");
            if (needInstall.count(entry.fileName) == 0)
                continue;
            INSTALL_LOG(how, "ready to install  : {} ", entry.fileName);
            Installer one =
                InstallerOf(*item, installerUrl, FreshRunDir(regionName) / TimeNamedInstaller(),
                            silentInstallers_);
            INSTALL_LOG(how, "url ={},file:{}", one.path, LogPathText(one.target));
            bool opened = false;
            InstallPoints at;
            if (how.progress.perInstaller) {
                at.folderReady = [&] {
                    ++k;
                    spread(10);
                };
                at.opened = [&] {
                    ++k;
                    spread(10);
                    opened = true;
                };
            }
            const int code = FetchAndStart(kCaRow, one, texts, how, at);
            LeaveRunDir(one);
            if (one.fetched != FetchResult::Saved) {
                installs.AddFetchFailure(entry.fileName, one.outcome);
            } else if (!one.ran) { // its signer refused
                installs.failures.push_back(entry.fileName + "：" + one.outcome);
            } else {
                ranAny = true;
                installs.Add(entry.fileName, *one.ran);
                if (code == kInstallNotStarted)
                    INSTALL_LOG(how, "file ={} install failed", LogPathText(one.target));
            }
            if (code < 0)
                --ca;
            if (opened)
                spread(9);
        }
        if (ca == 0)
            ca = kResultGood;
        outcome = CaOutcomeText(installs.failures, installs.restart);
    } catch (const std::exception& e) {
        INSTALL_SAY(how, texts.exception, std::string(e.what()));
        ca = kInstallFault;
    }
    std::string error;
    if (listRead && !RemoveSkfDll(error)) {
        INSTALL_LOG(how, "delete failed file:{} ,error={} ", LogPathText(SkfDllPath()), error);
        qDebug() << "thread  SKFAPI20050.dll not deleted:" << QString::fromStdString(error);
    }
    InstallResult end;
    end.end = installs.End();
    end.exitCode = installs.exitCode;
    FinishInstall(kCaRow, how, outcome, ranAny && !outcome.empty() ? &end : nullptr,
                  &CheckThread::DownloadCaSig, ca);
    return ca;
}
