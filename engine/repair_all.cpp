// Mode 4: the installers the panel selected, one after another. Writes no log records
// beyond the download's own retries and the installers' signature checks; its trace goes
// to the debug stream only.
#include "engine/checkthread.h"

#include "engine/install/install_step.h"
#include "engine/job_contract.h"

#include <QDebug>

namespace {

int SetBits(int flags) {
    return ((flags & kRepairDotNet) ? 1 : 0) + ((flags & kRepairTool) ? 1 : 0) +
           ((flags & kRepairCa) ? 1 : 0);
}

// A step of the sequence: no records, no progress of its own but its last value, and the
// registry locations of the CA drivers taken as they are.
InstallOptions RepairStep(const char* debugLabel, unsigned endProgress) {
    InstallOptions how;
    how.writeLog = false;
    how.progress.end = static_cast<int>(endProgress);
    how.stripQuotes = false;
    how.debugLabel = debugLabel;
    return how;
}

} // namespace

void CheckThread::RepairAll() {
    const unsigned progressStep = 90u / static_cast<unsigned>(1 + SetBits(repairFlags));
    // Each step ends on stepIndex × progressStep; its debug line names the value after it.
    unsigned stepIndex = 1;
    int csharp = 0;
    int tool = 0;
    int ca = 0;

    emit UpdateProcess(10);

    if (repairFlags & kRepairDotNet) {
        InstallOptions how = RepairStep("thread  DownloadCsharp", stepIndex * progressStep);
        how.progress.fetched = 50; // as soon as the request returns, whatever came
        csharp = InstallRowItem(DotNetInstall(), how);
        qDebug() << "thread  UpdateProcess:" << (stepIndex + 1) * progressStep;
        // The step after .NET ends on 3 × progressStep, not 2 × (flags 3: 10, 50, 30, 90).
        stepIndex = 3;
    }

    if (repairFlags & kRepairTool) {
        tool = InstallRowItem(ToolInstall(),
                              RepairStep("thread  DownloadToolVer", stepIndex * progressStep));
        ++stepIndex;
        qDebug() << "thread  UpdateProcess:" << stepIndex * progressStep;
    }

    if (repairFlags & kRepairCa) {
        // The CA step announces itself with the tool step's text, as it always has.
        ca = InstallCaDrivers(RepairStep("thread  DownloadToolVer", stepIndex * progressStep));
        ++stepIndex;
        qDebug() << "thread  UpdateProcess:" << stepIndex * progressStep;
    }

    emit RepairFinishSig(repairFlags, csharp, tool, ca);
}
