#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

// Whether Windows Installer is running an installation now: the mutex
// "Global\_MSIExecute" exists and someone else owns it.
bool WindowsInstallerBusy();

// How long and how an installer that found another installation running (exit code 1618)
// waits for it before it is started once more.
struct OtherInstallWait {
    std::chrono::milliseconds limit{std::chrono::minutes(10)};
    std::chrono::milliseconds poll{std::chrono::seconds(1)};
    // Asked often while waiting: true ends the wait at once, and the installer is not
    // started again (the job was cancelled, the window closed).
    std::function<bool()> stop;
    // Told true as the wait begins and false as it ends.
    std::function<void(bool)> waiting;
};

struct InstallerRun {
    int result = 0;                        // RunElevated's, for the last start
    std::optional<unsigned long> exitCode; // of the last start, when known
    bool waited = false;  // the first start ended with 1618 and others were waited for
    bool stopped = false; // that wait was stopped, so there was no second start
};

// RunElevated; when the installer ends with 1618 (another installation is running), waits
// while Windows Installer is busy, up to wait.limit, then starts it once more.
InstallerRun RunElevatedAfterOthers(const std::string& installerPath, const OtherInstallWait& wait);
// The same for a program with parameters (msiexec with a package, say).
struct ElevatedStart;
InstallerRun RunElevatedAfterOthers(const ElevatedStart& start, const OtherInstallWait& wait);
