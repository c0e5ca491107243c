#pragma once

// The install step that the single installs (modes 1 to 3) and the repair sequence (mode 4)
// share: each installer is fetched, verified while held, started elevated and reported the
// same way. Where the jobs differ is said by InstallOptions; what each component's step
// says, by its InstallTexts.

#include "engine/checkthread.h"
#include "engine/download/download.h"
#include "engine/install_outcome.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// A progress value not emitted.
inline constexpr int kNoProgress = -1;

// The progress values the step emits at its points (kNoProgress: none there).
struct InstallProgress {
    int start = kNoProgress;   // before anything else
    int region = kNoProgress;  // the region's section has been looked up
    int fetched = kNoProgress; // a row's installer: the request has returned, whatever came
    int opened = kNoProgress;  // a row's installer: its file has been made
    int listed = kNoProgress;  // the CA drivers: every entry has been checked
    // The CA drivers: two values for every needed installer, spread between `listed` and
    // 55, and one after its run.
    bool perInstaller = false;
    int end = kNoProgress; // just before the row's outcome and result signal
};

// Where a job's install step differs from another's.
struct InstallOptions {
    // Diagnostic-log records at the step's points. The repair sequence writes none: its
    // trace goes to the debug stream only.
    bool writeLog = true;
    InstallProgress progress;
    // The CA drivers: a registry location holding a double quote loses its first and last
    // character before it is probed.
    bool stripQuotes = true;
    // The debug line that opens the step; none when null.
    const char* debugLabel = nullptr;
};

// A line at one point of the step: a diagnostic-log record, written when the job writes
// records, and a debug line, printed by every job. "{}" in either stands for the point's
// value. Null: no such line.
struct InstallLine {
    const char* record = nullptr;
    const char* debug = nullptr;
};

// What one component's step says at its points (the value of each in brackets).
struct InstallTexts {
    InstallLine url;           // before the request [the installer's URL]
    InstallLine fetched;       // the request has returned [the URL's path]
    InstallLine requestFailed; // no whole answer with status 200 [the URL's path]
    InstallLine folderReady;   // the answer came and the download folder is there
    InstallLine openFailed;    // the file could not be made [the target]
    InstallLine writeFailed;   // the file could not be written [the target]
    InstallLine checksum;      // its SHA-256 is not the expected one [the target]
    InstallLine written;       // saved and checked
    InstallLine starting;      // before the installer starts [the target]
    InstallLine runCode;       // after it [the launch's result]
    InstallLine failed;        // a row's installer did not start [the launch's result]
    InstallLine installed;     // a row's installer started and ended [the launch's result]
    InstallLine exception;     // a document fault or another exception [its text]
};

// The installer of one check row (.NET Framework, bidding tool).
struct InstallItem {
    int row;              // its CheckRowIndex
    const char* member;   // the region section's member that names the installer
    const char* fileName; // the name it is saved under in the region's download folder
    InstallTexts texts;
    void (CheckThread::*resultSignal)(int);
};
const InstallItem& DotNetInstall();
const InstallItem& ToolInstall();

// One installer on its way: read from its document entry, then what became of it.
struct Installer {
    std::string url;
    std::string path; // the URL's path, for the lines
    std::filesystem::path target;
    std::string sha256;
    std::uint64_t size = 0; // the entry's `size`, 0 when it names none
    std::optional<std::string> signer;
    std::string silentArgs; // given only to a repair without a window (SetSilentInstallers)
    bool package = false;   // a Windows Installer package, started through msiexec
    FetchResult fetched = FetchResult::RequestFailed;
    std::string outcome; // for the row's record: why it did not install, or how its run ended
    std::optional<InstallResult> ran; // when it was started
};

// What the caller emits at the points of one installer's way; each may be empty.
struct InstallPoints {
    std::function<void()> fetched;     // the request has returned
    std::function<void()> folderReady; // an answer came and the folder is there
    std::function<void()> opened;      // its file has been made
};
