// Modes 1 to 3: one installer (or the needed CA installers) fetched and started.
#include "engine_fixture.h"

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/xattr.h>

using namespace enginetest;
using Ints = std::vector<int>;
using Strings = std::vector<std::string>;
using nlohmann::json;

namespace {

// The .NET and bidding-tool workers share their shape.
struct SingleWorker {
    const char* name;
    int mode;
    const char* member;
    const char* signal;
    const char* target;
};
const SingleWorker kWorkers[] = {
    {".NET", 1, "framework", "DownloadCsharpSig", "csharp.exe"},
    {"tool", 2, "tool", "DownloadToolSig", "tool.exe"},
};

class Workers : public EngineTest {
  protected:
    SignalLog RunWorker(const SingleWorker& w, const std::string& url) {
        json doc = BaseDocument();
        doc["shanxi"][w.member]["url"] = url;
        ServeDocument(doc);
        return Run(w.mode);
    }
};

// Each installer is saved into a new folder of its own and started there; the folder goes
// once the installer has ended.
TEST_F(Workers, InstallerIsFetchedAndStartedOnceInAFolderOfItsOwnThatGoesWhenItEnds) {
    for (const auto& w : kWorkers) {
        const SignalLog log = RunWorker(w, ServeInstaller(std::string("setup-") + w.target));
        EXPECT_EQ(log.Events().front(), "CheckNetSig(1)") << w.name;
        EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 5, 50, 60, 100})) << w.name;
        EXPECT_EQ(log.Last(w.signal), 1) << w.name;
        EXPECT_EQ(log.Events().back(), std::string(w.signal) + "(1)") << w.name;
    }
    EXPECT_EQ(InstallerRuns(), (Strings{"setup-csharp.exe", "setup-tool.exe"}));
    const Strings dirs = InstallerDirs();
    ASSERT_EQ(dirs.size(), 2u);
    for (const std::string& dir : dirs) {
        EXPECT_EQ(WithoutRunStamp(dir), RunFolder("shanxi").string());
        EXPECT_FALSE(std::filesystem::exists(dir)) << dir;
    }
    EXPECT_TRUE(DownloadedFiles("shanxi").empty());
}

TEST_F(Workers, ToolWorkerLogLines) {
    const std::string url = ServeInstaller("tool-setup");
    RunWorker(kWorkers[1], url);
    const std::string target = (RunFolder("shanxi") / "tool.exe").u8string();
    EXPECT_EQ(Messages(),
              (Strings{"down C# url=" + url + " ", "Get C# over ", "thread tool Get succes ",
                       "thread tool write success ", "start install : " + target + " ",
                       " install code: 1 ", " thread tool install success: 1 "}));
}

TEST_F(Workers, NetWorkerLogLines) {
    const std::string url = ServeInstaller("net-setup");
    RunWorker(kWorkers[0], url);
    const std::string target = (RunFolder("shanxi") / "csharp.exe").u8string();
    EXPECT_EQ(Messages(), (Strings{"down c# url:" + url + " ", "save c# install:" + target + " ",
                                   "install c# code:1 "}));
}

TEST_F(Workers, FailedRequestsGiveMinusTwoAndLeaveNothing) {
    server.ServeStatus("/files/gone", 404);
    const std::string urls[] = {
        server.Url("/files/gone"),
        "https://127.0.0.1:" + std::to_string(server.port()) + "/files/x",
        "http://127.0.0.1:" + std::to_string(testnet::TestServer::UnusedPort()) + "/x",
        "http://127.0.0.1:99999/x",
        "ftp://127.0.0.1/x",
    };
    for (const auto& w : kWorkers)
        for (const auto& url : urls) {
            const SignalLog log = RunWorker(w, url);
            EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 5, 50, 100})) << w.name << url;
            EXPECT_EQ(log.Last(w.signal), -2) << w.name << url;
        }
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_TRUE(DownloadedFiles("shanxi").empty());
}

TEST_F(Workers, ThreadWithoutALoggerStillReports) {
    logger.reset();
    for (const auto& w : kWorkers)
        EXPECT_EQ(RunWorker(w, ServeInstaller("setup")).Last(w.signal), 1) << w.name;
    json doc = BaseDocument();
    doc["shanxi"]["tool"]["fileVersion"] = "0.1";
    ServeDocument(doc);
    EXPECT_EQ(Run(0).Last("CheckCAVerSig"), 1);
}

TEST_F(Workers, MissingMemberIsAnException) {
    for (const auto& w : kWorkers) {
        json doc = BaseDocument();
        doc["shanxi"].erase(w.member);
        ServeDocument(doc);
        const SignalLog log = Run(w.mode);
        EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 5, 100})) << w.name;
        EXPECT_EQ(log.Last(w.signal), -3) << w.name;
    }
    const Strings messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rfind("catch exception :", 0), 0u) << messages[0];
    EXPECT_EQ(messages[1], " thread tool get exception ");
}

TEST_F(Workers, TargetThatCannotBeWrittenGivesMinusOne) {
    // A drive that takes no more bytes: files of this process end at 1 KiB.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    const std::string url = server.Url("/files/large-setup");
    server.ServeBytes("/files/large-setup", "#!/bin/sh\necho ran >> '" + marker.string() + "'\n" +
                                                std::string(8192, '#') + "\n");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (const auto& w : kWorkers) {
        const SignalLog log = RunWorker(w, url);
        EXPECT_EQ(log.Last(w.signal), -1) << w.name;
        EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 5, 50, 60, 100})) << w.name;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_TRUE(DownloadedFiles("shanxi").empty());
}

TEST_F(Workers, DownloadFolderThatCannotBeSecuredFailsBeforeTheDownload) {
    // C:\ProgramData a file: no folder can be made below it.
    std::filesystem::create_directories(machine.dir() / "drive_c");
    std::ofstream(machine.dir() / "drive_c" / "ProgramData") << "a file where the folder belongs";
    for (const auto& w : kWorkers) {
        const SignalLog log = RunWorker(w, ServeInstaller("setup"));
        EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 5, 100})) << w.name;
        EXPECT_EQ(log.Last(w.signal), -3) << w.name;
    }
    EXPECT_EQ(server.RequestCount("/files/setup"), 0u);
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_EQ(Messages().back(), " thread tool get exception ");
}

TEST_F(Workers, InstallersAreSavedInTheAdministratorsDownloadFolder) {
    // A folder a user made there first (mode 0777) is made one only its owner can change.
    std::filesystem::create_directories(RegionFolder("shanxi"));
    std::filesystem::permissions(RegionFolder("shanxi").parent_path(), std::filesystem::perms::all);
    const SignalLog log = RunWorker(kWorkers[1], ServeInstaller("setup"));
    EXPECT_EQ(log.Last("DownloadToolSig"), 1);
    ASSERT_EQ(InstallerDirs().size(), 1u);
    EXPECT_EQ(WithoutRunStamp(InstallerDirs()[0]), RunFolder("shanxi").string());
    const auto perms = std::filesystem::status(RegionFolder("shanxi").parent_path()).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_write | std::filesystem::perms::others_write),
              std::filesystem::perms::none);
    EXPECT_FALSE(std::filesystem::exists(workDir / "shanxi")) << "not beside the program";
}

// A region folder that the program's own account made while not elevated (malware
// included) may hold anything: it is moved aside whole, and the installer starts in a fresh
// folder of a new one.
TEST_F(Workers, AFolderTheOwnAccountMadeIsMovedAsideWithWhatWasPlantedInIt) {
    const std::string own = "S-1-5-21-1004336348-1177238915-682003330-1001";
    std::ofstream(machine.dir() / "accounts.ini") << "program = " << own << " QUELDA-PC\\bidder\n";
    const auto region = RegionFolder("shanxi");
    std::filesystem::create_directories(region);
    std::ofstream(region / "version.dll") << "planted";
    if (::setxattr(region.c_str(), "user.quelda.owner", own.data(), own.size(), 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes";

    EXPECT_EQ(RunWorker(kWorkers[1], ServeInstaller("setup")).Last("DownloadToolSig"), 1);
    ASSERT_EQ(InstallerDirs().size(), 1u);
    EXPECT_EQ(WithoutRunStamp(InstallerDirs()[0]), RunFolder("shanxi").string());
    EXPECT_FALSE(std::filesystem::exists(region / "version.dll"));
    int aside = 0;
    for (const auto& e : std::filesystem::directory_iterator(region.parent_path()))
        if (e.path().filename().string().rfind("shanxi.untrusted-", 0) == 0) {
            ++aside;
            EXPECT_TRUE(std::filesystem::exists(e.path() / "version.dll"));
        }
    EXPECT_EQ(aside, 1);
}

TEST_F(Workers, InstallerThatCannotStartGivesMinusFour) {
    server.ServeBytes("/files/garbage", std::string("\x7f\x01\x02 not a program"));
    for (const auto& w : kWorkers) {
        const SignalLog log = RunWorker(w, server.Url("/files/garbage"));
        EXPECT_EQ(log.Last(w.signal), -4) << w.name;
    }
    const Strings messages = Messages();
    EXPECT_EQ(messages.back(), " thread tool install failed: -2 ");
}

class CaWorker : public EngineTest {
  protected:
    SignalLog RunCa(const json& drivers, int region = 0) {
        json doc = BaseDocument();
        doc[std::vector<std::string>{"shanxi", "hebei", "neimeng"}[region]]["driver"] = drivers;
        ServeDocument(doc);
        return Run(3, region);
    }
    // An installed driver whose document entry expects another version.
    json Outdated(const std::string& fileName) {
        json e = InstalledDriver(fileName, "1.0.0.0", "2023-10-12 09:30");
        e["fileVersion"] = "2.0.0.0";
        return e;
    }
};

TEST_F(CaWorker, TwoNeededInstallersSpreadTheirProgress) {
    const json a = Outdated("a.dll");
    const json ok = InstalledDriver("ok.dll", "1.0.0.0", "2023-10-12 09:30");
    json b = ok;
    b["fileName"] = "b.dll"; // not installed: no file of that name
    const SignalLog log = RunCa(json::array({a, ok, b}));
    EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 1, 10, 25, 32, 31, 40, 47, 46, 100}));
    EXPECT_EQ(log.Last("DownloadCaSig"), 1);
    EXPECT_EQ(log.Events().back(), "DownloadCaSig(1)");
    EXPECT_EQ(InstallerRuns(), (Strings{"a.dll-setup", "ok.dll-setup"}));
    const Strings m = Messages();
    ASSERT_GE(m.size(), 7u);
    EXPECT_EQ(Strings(m.begin(), m.begin() + 7),
              (Strings{"check a.dll start", "needInstall a.dll ", "check ok.dll start",
                       "check b.dll start", "needInstall b.dll ", "needInstall size : 2 ",
                       "ready to install  : a.dll "}));
}

TEST_F(CaWorker, EverythingUpToDateInstallsNothingAndRemovesTheSkfLibrary) {
    const auto skf = machine.Native(kSkfDll);
    std::ofstream(skf) << "x";
    const json a = InstalledDriver("a.dll", "1.0.0.0", "2023-10-12 09:30");
    const SignalLog log = RunCa(json::array({a}));
    EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 1, 10, 100}));
    EXPECT_EQ(log.Last("DownloadCaSig"), 1);
    EXPECT_EQ(Messages(), (Strings{"check a.dll start", "needInstall size : 0 "}));
    EXPECT_FALSE(std::filesystem::exists(skf));
    EXPECT_TRUE(InstallerRuns().empty());
}

TEST_F(CaWorker, QuotedLocationsAreUnquotedInEveryRegion) {
    json a = InstalledDriver("drv.exe", "3.1.0.0", "2023-05-06 07:08");
    PutRegString(a["path"], "InstallPath", "\"C:\\Program Files\\CA\\drv.exe-dir\\drv.exe\"");
    for (int region : {0, 1, 2})
        EXPECT_EQ(RunCa(json::array({a}), region).Values("UpdateProcess"), (Ints{0, 1, 10, 100}))
            << region;
}

TEST_F(CaWorker, EntriesSharingAFileNameAreAllInstalled) {
    const json a = Outdated("same.dll");
    json again = InstalledDriver("other.dll", "1.0.0.0", "2023-10-12 09:30");
    again["fileName"] = "same.dll";
    again["url"] = ServeInstaller("second-setup");
    const SignalLog log = RunCa(json::array({a, again}));
    EXPECT_EQ(log.Last("DownloadCaSig"), 1);
    EXPECT_EQ(InstallerRuns(), (Strings{"same.dll-setup", "second-setup"}));
}

TEST_F(CaWorker, EachFailedEntrySubtractsOne) {
    server.ServeStatus("/files/missing", 404);
    server.ServeBytes("/files/garbage", std::string("\x7f\x01\x02 not a program"));
    json lost = Outdated("lost.dll");
    lost["url"] = server.Url("/files/missing");
    json tampered = Outdated("tampered.dll");
    tampered["sha256"] = std::string(64, '0');
    json broken = Outdated("broken.dll");
    broken["url"] = server.Url("/files/garbage");
    const json fine = Outdated("fine.dll");

    EXPECT_EQ(RunCa(json::array({lost, fine})).Last("DownloadCaSig"), -1);
    EXPECT_EQ(RunCa(json::array({lost, tampered, broken})).Last("DownloadCaSig"), -3);
    EXPECT_EQ(InstallerRuns(), (Strings{"fine.dll-setup"}));
    const Strings m = Messages();
    EXPECT_NE(std::find(m.begin(), m.end(), "get url failed=/files/missing "), m.end());
}

TEST_F(CaWorker, DocumentFaultsEndBothPasses) {
    std::ofstream(machine.Native(kSkfDll)) << "x";
    json a = Outdated("a.dll");
    a.erase("url");
    const SignalLog log = RunCa(json::array({a}));
    EXPECT_EQ(log.Last("DownloadCaSig"), -3);
    EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 1, 10, 100}));
    EXPECT_EQ(Messages().back().rfind("exception happend : ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(machine.Native(kSkfDll)));
    EXPECT_TRUE(InstallerRuns().empty());
}

TEST_F(CaWorker, UndeletableSkfLibraryStillEndsTheRun) {
    // A non-empty folder under the library's name cannot be removed.
    std::filesystem::create_directories(machine.Native(kSkfDll) / "inside");
    const SignalLog log = RunCa(json::array());
    EXPECT_EQ(log.Values("UpdateProcess"), (Ints{0, 1, 10, 100}));
    EXPECT_EQ(log.Events().back(), "DownloadCaSig(1)");
    EXPECT_EQ(Messages().back().rfind("delete failed file:", 0), 0u) << Messages().back();
}

// Every install job says how each item's install ended, more precisely than its result code.
TEST_F(Workers, EachJobReportsThePreciseOutcome) {
    server.ServeStatus("/files/gone", 404);
    server.ServeBytes("/files/exit3", "#!/bin/sh\nexit 3\n");
    struct Case {
        const char* name;
        std::string url;
        std::string sha256;
        std::string outcome;
    };
    const Case cases[] = {
        {"exit 3", server.Url("/files/exit3"), "", "安装程序退出码 3"},
        {"sha256", ServeInstaller("setup"), std::string(64, '0'), "下载失败：sha256 不符"},
        {"404", server.Url("/files/gone"), "", "下载失败：HTTP 404"},
        {"refused", "http://127.0.0.1:" + std::to_string(testnet::TestServer::UnusedPort()) + "/x",
         "", "下载失败：连接失败"},
        {"success", ServeInstaller("setup"), "", "已安装，等待重新检测"},
    };
    // The single installs and the repair's steps for the same two items.
    struct Job {
        int mode;
        int flags;
        const char* member;
        int row;
    };
    const Job jobs[] = {{1, 0, "framework", kDotNetRow},
                        {2, 0, "tool", kToolRow},
                        {4, 1, "framework", kDotNetRow},
                        {4, 2, "tool", kToolRow}};
    for (const Case& c : cases)
        for (const Job& j : jobs) {
            json doc = BaseDocument();
            doc["shanxi"][j.member] = {{"url", c.url}, {"sha256", c.sha256}};
            ServeDocument(doc);
            EXPECT_EQ(Run(j.mode, 0, j.flags).Outcomes(),
                      Strings{std::to_string(j.row) + ":" + c.outcome})
                << c.name << " mode " << j.mode;
        }
}

// Of several CA installers, the outcome names the ones that failed and how.
TEST_F(CaWorker, OutcomeNamesTheFailedInstallers) {
    server.ServeStatus("/files/gone", 404);
    server.ServeBytes("/files/exit3", "#!/bin/sh\nexit 3\n");
    json lost = Outdated("lost.dll");
    lost["url"] = server.Url("/files/gone");
    json failing = Outdated("failing.dll");
    failing["url"] = server.Url("/files/exit3");
    const json fine = Outdated("fine.dll");
    const std::string both = "4:lost.dll：下载失败：HTTP 404；failing.dll：安装程序退出码 3";
    EXPECT_EQ(RunCa(json::array({lost, fine, failing})).Outcomes(), Strings{both});
    json doc = BaseDocument();
    doc["shanxi"]["driver"] = json::array({lost, fine, failing});
    ServeDocument(doc);
    EXPECT_EQ(Run(4, 0, 4).Outcomes(), Strings{both});
    EXPECT_EQ(RunCa(json::array({fine})).Outcomes(), Strings{"4:已安装，等待重新检测"});
}

} // namespace
