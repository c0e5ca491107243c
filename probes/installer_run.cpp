#include "installer_run.h"

#include "elevated.h"
#include "winapi.h"

#include <algorithm>
#include <thread>

bool WindowsInstallerBusy() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute");
    if (!mutex)
        return false;
    // Taking it for a moment shows whether anyone holds it; it is given back at once.
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return waited == WAIT_TIMEOUT;
}

namespace {

// Sleeps up to `span`, in short slices so that a stop is seen at once; false when stopped.
bool SleepUnlessStopped(std::chrono::milliseconds span, const std::function<bool()>& stop) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + span;
    for (;;) {
        if (stop && stop())
            return false;
        const auto now = Clock::now();
        if (now >= end)
            return true;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
    }
}

} // namespace

InstallerRun RunElevatedAfterOthers(const std::string& installerPath,
                                    const OtherInstallWait& wait) {
    return RunElevatedAfterOthers(InstallerStart(installerPath), wait);
}

InstallerRun RunElevatedAfterOthers(const ElevatedStart& start, const OtherInstallWait& wait) {
    InstallerRun run;
    run.result = RunElevated(start, &run.exitCode);
    if (run.result < 1 || run.exitCode != static_cast<unsigned long>(ERROR_INSTALL_ALREADY_RUNNING))
        return run;
    run.waited = true;
    if (wait.waiting)
        wait.waiting(true);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait.limit;
    bool stopped = wait.stop && wait.stop();
    while (!stopped && WindowsInstallerBusy()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        stopped = !SleepUnlessStopped(
            std::min(wait.poll, std::chrono::duration_cast<std::chrono::milliseconds>(left)),
            wait.stop);
    }
    if (wait.waiting)
        wait.waiting(false);
    if (stopped) {
        run.stopped = true;
        return run;
    }
    run.result = RunElevated(start, &run.exitCode);
    return run;
}
