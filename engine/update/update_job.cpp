// The update job: the release that the signed document offers, fetched through the install
// step (size, SHA-256, held), unpacked, its program checked (version, publisher) and put in
// place over the running copy's folder. A failure at any step leaves the old program as it
// was and says what failed.
#include "engine/checkthread.h"

#include "engine/engine_log.h"
#include "engine/install/install_step.h"
#include "engine/install_paths.h"
#include "engine/installer_signer.h"
#include "engine/job_contract.h"
#include "engine/server_address.h"
#include "engine/update/program_files.h"
#include "engine/update/zip_archive.h"

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
    if (RegGetStrValue(HKEY_LOCAL_MACHINE, kProgramKey, "InstallFolder", folder) != 1)
        return false;
    std::error_code ec;
    const fs::path registered = fs::u8path(ToNativePath(GbkToUtf8(folder)));
    return fs::equivalent(registered, programDir, ec);
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
    if (InstalledByMsi(programDir_))
        return finish(kUpdateFailed,
                      "本工具由安装包（MSI）安装，请下载新版本 " + version + " 的安装包安装");
    if (!releaseOffer_->zip)
        return finish(kUpdateRefused, "服务器配置没有给出新版本的便携包（zip）");
    const ReleasePackage& package = *releaseOffer_->zip;

    Installer one;
    one.url = package.url;
    one.sha256 = package.sha256;
    one.size = package.size;
    ServerAddress server;
    ParseServerUrl(one.url, server, one.path);
    fs::path run;
    try {
        run = FreshRunDir(kUpdateFolder);
    } catch (const std::exception& e) {
        ENGINE_LOG(logger, "update: {}", e.what());
        return finish(kUpdateFailed, "新版本未安装：下载目录无法创建");
    }
    one.target = run / "release.zip";
    auto refuse = [&](const std::string& why) {
        RemoveRunDir(one.target);
        finish(kUpdateRefused, "新版本未安装：" + why);
    };
    {
        static const InstallTexts kTexts;
        HeldFile held;
        if (FetchVerified(one, kTexts, InstallOptions(), InstallPoints(), held) != kResultGood)
            return refuse(one.outcome);
    }

    const fs::path unpacked = run / "unpacked";
    std::vector<fs::path> files;
    std::string why;
    std::error_code ec;
    fs::create_directory(unpacked, ec);
    if (ec || !ExtractZip(one.target, unpacked, files, why))
        return refuse("更新包无法解开（" + (ec ? ec.message() : why) + "）");
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
