// The update job: the release that the signed document offers, fetched through the install
// step (size, SHA-256, held), unpacked, its program checked (version, publisher) and put in
// place over the running copy's folder. A failure at any step leaves the old program as it
// was and says what failed.
#include "engine/checkthread.h"

#include "engine/engine_log.h"
#include "engine/install/install_step.h"
#include "engine/install_outcome.h"
#include "engine/install_paths.h"
#include "engine/installer_signer.h"
#include "engine/job_contract.h"
#include "engine/server_address.h"
#include "engine/update/program_files.h"
#include "engine/update/zip_archive.h"

#include "common/text/ascii.h"

#include "probes/file_probes.h"
#include "probes/held_file.h"
#include "probes/native_path.h"
#include "probes/registry.h"
#include "probes/textconv.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

constexpr char kUpdateFolder[] = "update";
constexpr char kProgramKey[] = "SOFTWARE\\Quelda\\EnvCheck";

// A copy that the MSI package installed: the package's registration names its folder.
bool InstalledByMsi(const fs::path& programDir) {
    std::string folder;
    // The x86 package registers in the 32-bit view of a 64-bit Windows.
    if (RegGetStrValueEitherView(HKEY_LOCAL_MACHINE, kProgramKey, "InstallFolder", folder) < 0 ||
        folder.empty())
        return false;
    // Compared as paths, not as files: the registration ends in a backslash, Qt's folder is
    // written with slashes, and opening a folder to compare file ids needs rights a plain
    // user may not have.
    auto comparable = [](const fs::path& p) {
        std::string text = p.lexically_normal().generic_u8string();
        while (text.size() > 3 && text.back() == '/')
            text.pop_back();
        return ascii::Lower(text);
    };
    return comparable(fs::u8path(ToNativePath(GbkToUtf8(folder)))) == comparable(programDir);
}

// When every unpacked file lies in one folder and the program is not at the top but in that
// folder, the folder becomes the top: `unpacked` names it and `files` are relative to it.
void WithinSingleFolder(fs::path& unpacked, std::vector<fs::path>& files, const fs::path& program) {
    std::error_code ec;
    if (files.empty() || fs::is_regular_file(unpacked / program, ec))
        return;
    const fs::path top = *files.front().begin();
    for (const fs::path& file : files)
        if (*file.begin() != top || file == top)
            return;
    if (!fs::is_regular_file(unpacked / top / program, ec))
        return;
    for (fs::path& file : files)
        file = file.lexically_relative(top);
    unpacked /= top;
}

} // namespace

void CheckThread::InstallUpdate() {
    auto finish = [this](int code, const std::string& text) {
        ENGINE_LOG(logger, "update: {}", text);
        emit UpdateResultSig(code, QString::fromStdString(text));
    };
    if (!releaseOffer_ || !report_.update.available)
        return finish(kUpdateNothing, "没有可安装的新版本");
    const std::string version = report_.update.version;
    const bool msiCopy = InstalledByMsi(programDir_);
    const std::optional<ReleasePackage>& chosen = msiCopy ? releaseOffer_->msi : releaseOffer_->zip;
    if (!chosen)
        return finish(kUpdateRefused, msiCopy ? "服务器配置没有给出新版本的安装包（msi）"
                                              : "服务器配置没有给出新版本的便携包（zip）");
    const ReleasePackage& package = *chosen;

    Installer one;
    one.url = package.url;
    one.sha256 = package.sha256;
    one.size = package.size;
    // A package carries its own Authenticode signature; a zip's program is checked inside.
    if (msiCopy)
        one.signer = package.signer;
    ServerAddress server;
    ParseServerUrl(one.url, server, one.path);
    fs::path run;
    try {
        run = FreshRunDir(kUpdateFolder);
    } catch (const std::exception& e) {
        ENGINE_LOG(logger, "update: {}", e.what());
        return finish(kUpdateFailed, "新版本未安装：下载目录无法创建");
    }
    one.target = run / (msiCopy ? "quelda-envcheck.msi" : "release.zip");
    auto refuse = [&](const std::string& why) {
        RemoveRunDir(one.target);
        finish(kUpdateRefused, "新版本未安装：" + why);
    };
    HeldFile held;
    if (FetchVerified(one, InstallTexts(), InstallOptions(), InstallPoints(), held) != kResultGood)
        return refuse(one.outcome);

    if (msiCopy) {
        // The package's major upgrade replaces the installed copy in place (the same folder),
        // held from its check until Windows Installer has it. The running program's file is
        // renamed aside first, as Windows allows: at its name Windows Installer would find it
        // in use and only replace it at the next restart of Windows (3010).
        const fs::path running = programDir_ / programFile_;
        const fs::path aside = MoveProgramFileAside(running);
        const InstallResult ran = RunPackageUpgrade(one.target, OtherInstallationWait());
        held.Close();
        if (ran.exitCode)
            RemoveRunDir(one.target);
        // An upgrade that failed (and rolled back) leaves nothing at the name: the old
        // program goes back.
        const bool placed = PutProgramFileBack(aside, running);
        if (!placed && ran.end == kInstallEndInstalled)
            return finish(kUpdateFailed, "新版本未安装：安装包没有放入 " + programFile_.u8string());
        if (ran.end == kInstallEndInstalled)
            return finish(kResultGood, "已更新到 " + version + "，正在重新启动");
        if (ran.end == kInstallEndRestart)
            return finish(kUpdateRestart, "已更新到 " + version + "，重启电脑后生效");
        return finish(kUpdateFailed, "新版本未安装：" + ran.outcome);
    }
    held.Close();

    fs::path unpacked = run / "unpacked";
    std::vector<fs::path> files;
    std::string why;
    std::error_code ec;
    fs::create_directory(unpacked, ec);
    if (ec || !ExtractZip(one.target, unpacked, files, why))
        return refuse("更新包无法解开（" + (ec ? ec.message() : why) + "）");
    // The zip handed out to bidders holds the program's folder itself: its files are taken
    // from inside it.
    WithinSingleFolder(unpacked, files, programFile_);
    // The user's own settings stay as they are: a release's sample config.json is not theirs.
    files.erase(std::remove(files.begin(), files.end(), fs::path("config.json")), files.end());
    if (!fs::is_regular_file(unpacked / programFile_, ec))
        return refuse("更新包中没有 " + programFile_.u8string());
    // Never backwards: the program inside is the version offered, whatever the archive says.
    __time64_t written = 0;
    std::string found;
    ReleaseVersion inside{};
    if (GetFileVersionTime(unpacked, programFile_.u8string(), written, found) != 1 ||
        !ParseReleaseVersion(found, inside) || inside != releaseOffer_->version)
        return refuse("更新包中的程序版本是 " + (found.empty() ? std::string("未知") : found) +
                      "，不是 " + version);
    if (package.signer) {
        HeldFile program;
        std::string outcome;
        if (!program.Open(LocalPathText(unpacked / programFile_)))
            return refuse("更新包中的程序无法打开");
        if (!SignerAllowsStart(program, unpacked / programFile_, package.signer, outcome, logger))
            return refuse(outcome);
    }
    if (!ReplaceProgramFiles(unpacked, files, programDir_, why)) {
        RemoveRunDir(one.target);
        return finish(kUpdateFailed, "新版本未能放入程序目录，旧版本保持不变（" + why + "）");
    }
    RemoveRunDir(one.target);
    finish(kResultGood, "已更新到 " + version + "，正在重新启动");
}
