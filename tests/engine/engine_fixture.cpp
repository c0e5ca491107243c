#include "engine_fixture.h"

#include "probes/admin_folder.h"

#include "pe_fixture.h"
#include "probes/registry.h"
#include "probes/textconv.h"

#include <spdlog/sinks/ostream_sink.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <fstream>
#include <regex>
#include <utime.h>

namespace fs = std::filesystem;

namespace enginetest {

bool RunToEnd(QThread& thread, unsigned long timeoutMs) {
    struct Ended {
        std::mutex mutex;
        std::condition_variable cv;
        bool ended = false;
    };
    auto ended = std::make_shared<Ended>();
    // Without a context object the lambda runs on the ending thread itself.
    QObject::connect(&thread, &QThread::finished, [ended] {
        std::lock_guard<std::mutex> lock(ended->mutex);
        ended->ended = true;
        ended->cv.notify_all();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    thread.start();
    {
        std::unique_lock<std::mutex> lock(ended->mutex);
        if (!ended->cv.wait_until(lock, deadline, [&] { return ended->ended; }))
            return false;
    }
    // `finished` comes before Qt's own bookkeeping of the end; the object may be destroyed
    // only after that.
    return thread.wait(timeoutMs);
}

void SignalLog::State::Add(const char* name, std::vector<int> args) {
    std::lock_guard<std::mutex> lock(mutex);
    events.emplace_back(name, std::move(args));
}

void SignalLog::Attach(CheckThread* t) {
    auto s = state_;
    // Lambdas without a context object run on the emitting (worker) thread, in order.
    QObject::connect(t, &CheckThread::CheckStartSig, [s](int r) { s->Add("CheckStartSig", {r}); });
    QObject::connect(t, &CheckThread::CheckNetSig, [s](int r) { s->Add("CheckNetSig", {r}); });
    QObject::connect(t, &CheckThread::CheckIESig, [s](int r) { s->Add("CheckIESig", {r}); });
    QObject::connect(t, &CheckThread::CheckNetFraSig,
                     [s](int r) { s->Add("CheckNetFraSig", {r}); });
    QObject::connect(t, &CheckThread::CheckToolVerSig,
                     [s](int r) { s->Add("CheckToolVerSig", {r}); });
    QObject::connect(t, &CheckThread::CheckCAVerSig, [s](int r) { s->Add("CheckCAVerSig", {r}); });
    QObject::connect(t, &CheckThread::DownloadToolSig,
                     [s](int r) { s->Add("DownloadToolSig", {r}); });
    QObject::connect(t, &CheckThread::DownloadCaSig, [s](int r) { s->Add("DownloadCaSig", {r}); });
    QObject::connect(t, &CheckThread::DownloadCsharpSig,
                     [s](int r) { s->Add("DownloadCsharpSig", {r}); });
    QObject::connect(t, &CheckThread::UpdateProcess, [s](int r) { s->Add("UpdateProcess", {r}); });
    QObject::connect(t, &CheckThread::RepairFinishSig, [s](int f, int c, int tl, int ca) {
        s->Add("RepairFinishSig", {f, c, tl, ca});
    });
    QObject::connect(t, &CheckThread::InstallOutcomeSig, [s](int row, const QString& text) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->outcomes.push_back(std::to_string(row) + ":" + text.toStdString());
    });
    QObject::connect(t, &CheckThread::InstallEndSig, [s](int row, int end, qint64 code) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->ends.push_back(std::to_string(row) + ":" + std::to_string(end) + ":" +
                          std::to_string(code));
    });
    QObject::connect(t, &CheckThread::UpdateOfferSig,
                     [s](const QString& version, const QString& notes, bool mandatory) {
                         std::lock_guard<std::mutex> lock(s->mutex);
                         s->offers.push_back(version.toStdString() + "|" + notes.toStdString() +
                                             (mandatory ? "|mandatory" : ""));
                     });
    QObject::connect(t, &CheckThread::InstallWaitSig, [s](int row, int waiting) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->waits.push_back(std::to_string(row) + ":" + std::to_string(waiting));
    });
}

std::vector<std::string> SignalLog::Offers() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->offers;
}

std::vector<std::string> SignalLog::Ends() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->ends;
}

std::vector<std::string> SignalLog::Waits() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->waits;
}

std::vector<std::string> SignalLog::Events() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<std::string> out;
    for (const auto& [name, args] : state_->events) {
        std::string text = name + "(";
        for (std::size_t i = 0; i < args.size(); ++i)
            text += (i ? "," : "") + std::to_string(args[i]);
        out.push_back(text + ")");
    }
    return out;
}

std::vector<int> SignalLog::Values(const std::string& name) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<int> out;
    for (const auto& [n, args] : state_->events)
        if (n == name)
            out.push_back(args.at(0));
    return out;
}

std::vector<std::string> SignalLog::Outcomes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->outcomes;
}

int SignalLog::Last(const std::string& name) const {
    const auto values = Values(name);
    return values.empty() ? INT_MIN : values.back();
}

EngineTest::EngineTest() {
    previousDir_ = fs::current_path();
    workDir = machine.dir() / "work";
    fs::create_directories(workDir);
    fs::current_path(workDir);
    marker = machine.dir() / "installer-runs.txt";
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(logStream_);
    sink->set_pattern("%s|%v");
    logger = std::make_shared<spdlog::logger>(" ", sink);
}

EngineTest::~EngineTest() {
    server.Stop();
    std::error_code ec;
    fs::current_path(previousDir_, ec);
}

SignalLog EngineTest::Run(int mode, int region, int repairFlags) {
    return RunWith(server.ipPort(), kDocPath, mode, region, repairFlags);
}

SignalLog EngineTest::RunWith(const std::string& ipPort, const std::string& url, int mode,
                              int region, int repairFlags) {
    SignalLog log;
    CheckThread thread(mode, region, ipPort, url, "", repairFlags, logger);
    log.Attach(&thread);
    EXPECT_TRUE(RunToEnd(thread, 120000)) << "the thread did not end";
    return log;
}

nlohmann::json EngineTest::BaseDocument() {
    nlohmann::json doc = nlohmann::json::object();
    for (const char* region : {"shanxi", "hebei", "neimeng"}) {
        doc[region] = {
            {"framework",
             {{"path", "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework "
                       "Setup\\NDP\\v4"},
              {"url", "http://127.0.0.1:1/none"}}},
            {"tool",
             {{"path",
               std::string("计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\Tool\\") + region},
              {"key", "InstallDir"},
              {"fileName", "tool.exe.config"},
              {"fileVersion", "1.0.0"},
              {"url", "http://127.0.0.1:1/none"}}},
            {"driver", nlohmann::json::array()},
        };
    }
    return doc;
}

void EngineTest::ServeDocument(const nlohmann::json& doc) {
    server.ServeGbk(kDocPath, doc.dump());
}

void EngineTest::ServeDocumentWithGoneInstallers() {
    server.ServeStatus("/files/gone", 404);
    nlohmann::json doc = BaseDocument();
    doc["shanxi"]["framework"]["url"] = server.Url("/files/gone");
    doc["shanxi"]["tool"]["url"] = server.Url("/files/gone");
    ServeDocument(doc);
}

std::vector<LogRecord> EngineTest::Records(bool systemLines) const {
    std::vector<LogRecord> out;
    std::istringstream in(logStream_.str());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto bar = line.find('|');
        LogRecord record{line.substr(0, bar),
                         WithoutRunStamp(bar == std::string::npos ? line : line.substr(bar + 1))};
        // Every check names the system once; SystemLines() has those records.
        if (systemLines == (record.message.rfind("windows build=", 0) == 0))
            out.push_back(record);
    }
    return out;
}

std::vector<std::string> EngineTest::SystemLines() const {
    std::vector<std::string> out;
    for (const auto& r : Records(true))
        out.push_back(r.message);
    return out;
}

std::vector<std::string> EngineTest::Messages() const {
    std::vector<std::string> out;
    for (const auto& r : Records())
        out.push_back(r.message);
    return out;
}

void EngineTest::PutRegString(const std::string& displayPath, const std::string& name,
                              const std::string& valueUtf8) {
    std::string rootName, subKey;
    ASSERT_EQ(SplitRegPath(displayPath, rootName, subKey), 1) << displayPath;
    ASSERT_EQ(RegSetStrValue(RegRootKey(rootName), Utf8ToGbk(subKey), Utf8ToGbk(name),
                             Utf8ToGbk(valueUtf8)),
              1)
        << displayPath;
}

long long EngineTest::UnixFromUtc8(const std::string& dtm) {
    std::tm t{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    std::sscanf(dtm.c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi);
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    return static_cast<long long>(timegm(&t)) - 8 * 3600;
}

void EngineTest::SetLastWriteUnix(const fs::path& file, long long unixSeconds) {
    utimbuf times{static_cast<time_t>(unixSeconds), static_cast<time_t>(unixSeconds)};
    ASSERT_EQ(utime(file.c_str(), &times), 0) << file;
}

fs::path EngineTest::PutDriverFile(const std::string& windowsDir, const std::string& fileName,
                                   const std::string& version, const std::string& dtm) {
    const fs::path file = machine.Native(windowsDir + "\\" + fileName);
    WritePe(file, version);
    // Seconds do not count: any second of the named minute matches.
    SetLastWriteUnix(file, UnixFromUtc8(dtm) + 41);
    return file;
}

nlohmann::json EngineTest::InstalledDriver(const std::string& fileName, const std::string& version,
                                           const std::string& dtm) {
    const std::string dir = "C:\\Program Files\\CA\\" + fileName + "-dir";
    const std::string regPath = "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\CA\\" + fileName;
    PutRegString(regPath, "InstallPath", dir);
    PutDriverFile(dir, fileName, version, dtm);
    return {{"path", regPath},      {"key", "InstallPath"},
            {"fileName", fileName}, {"fileVersion", version},
            {"fileModifyDtm", dtm}, {"url", ServeInstaller(fileName + "-setup")}};
}

std::string EngineTest::InstallerScript(const std::string& name) const {
    return "#!/bin/sh\necho " + name + " >> '" + marker.string() + "'\npwd >> '" + marker.string() +
           ".dirs'\nexit 0\n";
}

std::string EngineTest::ServeInstaller(const std::string& name) {
    const std::string script = InstallerScript(name);
    server.ServeBytes("/files/" + name, script);
    return server.Url("/files/" + name);
}

std::vector<std::string> EngineTest::InstallerRuns() const {
    std::vector<std::string> runs;
    std::ifstream in(marker);
    std::string line;
    while (std::getline(in, line))
        runs.push_back(line);
    return runs;
}

std::vector<std::string> EngineTest::InstallerDirs() const {
    std::vector<std::string> dirs;
    std::ifstream in(marker.string() + ".dirs");
    std::string line;
    while (std::getline(in, line))
        dirs.push_back(line);
    return dirs;
}

std::string WithoutRunStamp(const std::string& text) {
    static const std::regex stamp(std::string(kFreshFolderPrefix) + "[0-9]+-[0-9]+");
    return std::regex_replace(text, stamp, "run-N");
}

fs::path EngineTest::RunFolder(const std::string& region) const {
    return RegionFolder(region) / "run-N";
}

fs::path EngineTest::RegionFolder(const std::string& region) const {
    return machine.dir() / "drive_c" / "ProgramData" / "Quelda" / "downloads" / region;
}

std::vector<std::string> EngineTest::DownloadedFiles(const std::string& region) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(RegionFolder(region), ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(kFreshFolderPrefix, 0) != 0 || !e.is_directory()) {
            names.push_back(name);
            continue;
        }
        // An installer's own folder: what it holds, or the folder itself when empty.
        const std::size_t before = names.size();
        for (const auto& inner : fs::directory_iterator(e.path(), ec))
            names.push_back(inner.path().filename().string());
        if (names.size() == before)
            names.push_back("run-N/");
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace enginetest
