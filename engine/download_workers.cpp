// The single-installer jobs of modes 1 to 3: fetch, start elevated, report. Each runs the
// install step with diagnostic-log records and the progress values of a single install.
#include "engine/checkthread.h"

#include "engine/install/install_step.h"

namespace {

// .NET Framework and bidding tool: 0, 5 (the region's section), 50 (the request returned),
// 60 (the file made), 100.
InstallOptions RowInstallOptions(bool showProgress) {
    InstallOptions how;
    if (showProgress)
        how.progress = {0, 5, 50, 60, kNoProgress, false, 100};
    return how;
}

// CA drivers: 0, 1 (the region's section), 10 (every entry checked), two values for each
// needed installer and one after its run whatever `showProgress` says, 100.
InstallOptions CaInstallOptions(bool showProgress) {
    InstallOptions how;
    if (showProgress)
        how.progress = {0, 1, kNoProgress, kNoProgress, 10, true, 100};
    how.progress.perInstaller = true;
    return how;
}

} // namespace

void CheckThread::DownloadCsharp(bool showProgress) {
    InstallRowItem(DotNetInstall(), RowInstallOptions(showProgress));
}

void CheckThread::DownloadToolVer(bool showProgress) {
    InstallRowItem(ToolInstall(), RowInstallOptions(showProgress));
}

void CheckThread::DownloadCaVer(bool showProgress) {
    InstallCaDrivers(CaInstallOptions(showProgress));
}
