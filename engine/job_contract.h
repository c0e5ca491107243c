#pragma once

// What the panel and a CheckThread agree on: which job a thread runs, which installers a
// repair job fetches, and what the result codes its signals carry mean. The values travel as
// plain ints (constructor arguments and signal arguments) and never change.

// The job of a CheckThread (its mode).
enum JobMode : int {
    kCheckJob = 0,         // the check of every item
    kDotNetInstallJob = 1, // the .NET Framework installer
    kToolInstallJob = 2,   // the bidding tool's installer
    kCaInstallJob = 3,     // the installers of the CA drivers that need one
    kRepairJob = 4,        // the installers of the repair flags, one after another
    kUpdateJob = 5,        // the release of this program that the signed document offers
};

// The installers a repair job fetches, as a bit set.
enum RepairFlag : int {
    kRepairDotNet = 1,
    kRepairTool = 2,
    kRepairCa = 4,
};

// Result codes. Every result signal carries one: 1 is good (the panel takes 0 or more as
// good), each negative value names one failure.
inline constexpr int kResultGood = 1;

// The network check (CheckNetSig): the server document could not be fetched or used.
inline constexpr int kNetFault = -1;
// The bidding tool's and the CA drivers' checks: installed, but not the expected version.
inline constexpr int kWrongVersion = -4;
// The CA drivers' check: the drivers are as expected but the SKF library spoils them; the CA
// install repairs it, without a download being counted for it.
inline constexpr int kCaEnvironmentFault = -5;

// An installer job's step (DownloadCsharpSig, DownloadToolSig; DownloadCaSig carries
// kResultGood, kInstallFault or minus the number of CA installers that failed).
inline constexpr int kInstallNotSaved = -1;   // the file could not be saved
inline constexpr int kInstallNotFetched = -2; // no whole answer, a bad sha256 or signer
inline constexpr int kInstallFault = -3;      // a document fault or another exception
inline constexpr int kInstallNotStarted = -4; // the installer could not be started

// The update job (UpdateResultSig): kResultGood, the new release is in place (restart it);
// kUpdateRestart, it is installed but takes effect after Windows restarts; none was offered; the
// release was refused (download, checks, package); it could not be put in place, and the old
// program is unchanged.
inline constexpr int kUpdateNothing = 0;
inline constexpr int kUpdateRestart = 2; // installed; Windows must restart to finish it
inline constexpr int kUpdateRefused = -2;
inline constexpr int kUpdateFailed = -3;

// What the panel counts for each item of a job that ended without its result signal.
inline constexpr int kNoResultSent = -1;
