#pragma once

#include "engine/checkthread.h"
#include "engine/download/download_limits.h"
#include "temp_machine.h"
#include "test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <climits>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace enginetest {

// Starts a thread and waits until it has ended; false on time-out. Besides QThread::wait it
// waits for `finished` through a std::mutex: a thread that ended before wait() was called
// is ordered only through Qt's futex-based QMutex, which ThreadSanitizer does not see, and
// reading the thread's results afterwards would be reported as a race.
bool RunToEnd(QThread& thread, unsigned long timeoutMs);

// Every signal of a CheckThread in emission order, as "Name(a,b,...)".
class SignalLog {
  public:
    void Attach(CheckThread* thread);
    std::vector<std::string> Events() const;
    // The arguments of every emission of one signal (first argument only).
    std::vector<int> Values(const std::string& name) const;
    // The first argument of the last emission of a signal, INT_MIN when never emitted.
    int Last(const std::string& name) const;
    // Every InstallOutcomeSig as "row:outcome" (kept apart from Events).
    std::vector<std::string> Outcomes() const;
    // Every InstallEndSig as "row:end:exitCode", every InstallWaitSig as "row:waiting".
    std::vector<std::string> Ends() const;
    std::vector<std::string> Waits() const;
    // Every UpdateOfferSig as "version|notes", with "|mandatory" when it is.
    std::vector<std::string> Offers() const;

  private:
    struct State {
        std::mutex mutex;
        std::vector<std::pair<std::string, std::vector<int>>> events;
        std::vector<std::string> outcomes;
        std::vector<std::string> ends;
        std::vector<std::string> waits;
        std::vector<std::string> offers;
        void Add(const char* name, std::vector<int> args);
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

struct LogRecord {
    std::string source; // base name of the source file
    std::string message;
};

// One test's world: a machine folder, a working directory (downloads land under it), a
// configuration server, a logger that keeps its records in memory.
class EngineTest : public ::testing::Test {
  protected:
    EngineTest();
    ~EngineTest() override;

    // Runs one thread to its end and returns what it emitted.
    SignalLog Run(int mode, int region = 0, int repairFlags = 0);
    SignalLog RunWith(const std::string& ipPort, const std::string& url, int mode, int region = 0,
                      int repairFlags = 0);

    // A document with three complete regions whose registry paths name keys that do not
    // exist; tests fill in what they need.
    static nlohmann::json BaseDocument();
    void ServeDocument(const nlohmann::json& doc);
    // The base document with its .NET and tool installers at an address that answers 404.
    void ServeDocumentWithGoneInstallers();

    // The log records, without (or with only) the line naming the system of each check.
    std::vector<LogRecord> Records(bool systemLines = false) const;
    std::vector<std::string> Messages() const;
    std::vector<std::string> SystemLines() const;

    // Registry: a REG_SZ value under a display-form path ("计算机\HKEY_...\sub").
    void PutRegString(const std::string& displayPath, const std::string& name,
                      const std::string& valueUtf8);
    // A PE file with a version resource, last written in the minute `dtm` ("Y-M-D h:m")
    // names in UTC+8.
    std::filesystem::path PutDriverFile(const std::string& windowsDir, const std::string& fileName,
                                        const std::string& version, const std::string& dtm);
    // A complete, installed driver entry (registry value, file) named `fileName`.
    nlohmann::json InstalledDriver(const std::string& fileName, const std::string& version,
                                   const std::string& dtm);
    // An installer script served at /files/<name>; it appends its own name to the marker.
    std::string ServeInstaller(const std::string& name);
    // Its bytes: a script that appends its name to the marker and its working folder to
    // InstallerDirs().
    std::string InstallerScript(const std::string& name) const;
    std::vector<std::string> InstallerRuns() const;
    // The working folder of each run of those installers (native paths).
    std::vector<std::string> InstallerDirs() const;
    // The region's download folder (C:\ProgramData\Quelda\downloads\<region>), not made.
    std::filesystem::path RegionFolder(const std::string& region) const;
    // The region's folder with an installer's own folder in it, as the log records name it
    // (see WithoutRunStamp).
    std::filesystem::path RunFolder(const std::string& region) const;
    // Files left in the region's download folder, those in the installers' own folders by
    // name; an empty such folder as "run-N/".
    std::vector<std::string> DownloadedFiles(const std::string& region) const;

    static void SetLastWriteUnix(const std::filesystem::path& file, long long unixSeconds);
    static long long UnixFromUtc8(const std::string& dtm);

    TempMachine machine;
    testnet::TestServer server;
    std::filesystem::path workDir;
    std::filesystem::path marker;
    std::shared_ptr<spdlog::logger> logger;

  private:
    std::filesystem::path previousDir_;
    std::ostringstream logStream_;
};

// Limits for one test, restored afterwards.
class ScopedLimits {
  public:
    explicit ScopedLimits(const DownloadLimits& limits) : saved_(CurrentDownloadLimits()) {
        SetDownloadLimits(limits);
    }
    ~ScopedLimits() { SetDownloadLimits(saved_); }

  private:
    DownloadLimits saved_;
};

// `text` with each installer folder's name ("run-<stamp>-<n>") as "run-N"; the log
// records come so from Records() and Messages().
std::string WithoutRunStamp(const std::string& text);

inline const char kDocPath[] = "/cfg/server.json";
inline const char kSkfDll[] = "C:\\Windows\\SysWOW64\\SKFAPI20050.dll";

} // namespace enginetest
