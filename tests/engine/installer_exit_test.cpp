// What the install jobs make of an installer's exit code: installed, installed with a
// restart due, cancelled, failed with Windows' explanation, and the wait for another
// installation (1618) while Windows Installer's mutex is held.
#include "engine/install_outcome.h"
#include "engine_fixture.h"

#include "probes/winapi.h"

#include <chrono>
#include <thread>

using namespace enginetest;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

class ExitCodes : public EngineTest {
  protected:
    // An installer that ends with each code of `codes` in turn, one per run (the last one
    // again after that), through winshim's exit code file; each run is noted in the marker.
    std::string ServeEndingWith(const std::string& name, const std::vector<unsigned> codes) {
        std::string list;
        for (unsigned c : codes)
            list += std::to_string(c) + " ";
        const std::string counter = (machine.dir() / (name + ".runs")).string();
        const std::string script = "#!/bin/sh\necho " + name + " >> '" + marker.string() + "'\n" +
                                   "n=$(cat '" + counter +
                                   "' 2>/dev/null || echo 0)\necho $((n + 1)) > '" + counter +
                                   "'\nset -- " + list + "\nshift $((n < $# ? n : $# - 1))\n" +
                                   "echo $1 > \"$WINSHIM_EXIT_CODE_FILE\"\nexit 0\n";
        server.ServeBytes("/files/" + name, script);
        return server.Url("/files/" + name);
    }

    void ServeNet(const std::string& url) {
        json doc = BaseDocument();
        doc["shanxi"]["framework"]["url"] = url;
        ServeDocument(doc);
    }
};

TEST_F(ExitCodes, EachCodeHasItsOutcomeInEveryJob) {
    const struct {
        unsigned code;
        int end;
        const char* outcome;
    } cases[] = {
        {0, kInstallEndInstalled, "已安装，等待重新检测"},
        {3010, kInstallEndRestart, "已安装，需重启电脑后生效"},
        {1641, kInstallEndRestart, "已安装，需重启电脑后生效"},
        {1602, kInstallEndCancelled, "安装已取消"},
        {1223, kInstallEndCancelled, "安装已取消"},
        {1603, kInstallEndFailed, "安装程序退出码 1603：安装时发生严重错误"},
        {5, kInstallEndFailed, "安装程序退出码 5：拒绝访问。"},
        {70000, kInstallEndFailed, "安装程序退出码 70000"}, // Windows has no text for it
    };
    for (const auto& c : cases)
        for (const auto& [mode, flags] : {std::pair{1, 0}, std::pair{4, 1}}) {
            ServeNet(ServeEndingWith("setup-" + std::to_string(c.code), {c.code}));
            const SignalLog log = Run(mode, 0, flags);
            const std::string row = std::to_string(kDotNetRow);
            EXPECT_EQ(log.Outcomes(), Strings{row + ":" + c.outcome}) << c.code;
            EXPECT_EQ(log.Ends(),
                      Strings{row + ":" + std::to_string(c.end) + ":" + std::to_string(c.code)})
                << c.code;
            // The result codes stay: the installer was started and has ended.
            if (mode == 1) {
                EXPECT_EQ(log.Last("DownloadCsharpSig"), 1) << c.code;
            } else {
                EXPECT_EQ(log.Events().back(), "RepairFinishSig(1,1,0,0)") << c.code;
            }
            EXPECT_TRUE(log.Waits().empty());
        }
    // The single install's log names the code and what it means.
    bool logged = false;
    for (const std::string& m : Messages())
        logged = logged || m == "installer exit code:1603 安装程序退出码 1603：安装时发生严重错误";
    EXPECT_TRUE(logged);
}

// While another process owns Windows Installer's mutex, the installer that ended with 1618
// waits, shows that on its row, and is started once more when the other one is done.
TEST_F(ExitCodes, WaitsForAnotherInstallationThenStartsAgain) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute");
    ASSERT_NE(mutex, nullptr);
    std::thread other([mutex] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        ReleaseMutex(mutex);
    });
    ServeNet(ServeEndingWith("busy-setup", {1618, 0}));
    const auto start = std::chrono::steady_clock::now();
    const SignalLog log = Run(1);
    other.join();
    CloseHandle(mutex);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    const std::string row = std::to_string(kDotNetRow);
    EXPECT_EQ(log.Waits(), (Strings{row + ":1", row + ":0"}));
    EXPECT_EQ(InstallerRuns(), (Strings{"busy-setup", "busy-setup"}));
    EXPECT_EQ(log.Outcomes(), Strings{row + ":已安装，等待重新检测"});
    EXPECT_EQ(log.Ends(), Strings{row + ":1:0"});
}

TEST_F(ExitCodes, StillBusyAfterTheWaitSaysSo) {
    InstallWaitLimits saved = CurrentInstallWaitLimits();
    InstallWaitLimits shorter = saved;
    shorter.otherInstallation = std::chrono::milliseconds(200);
    SetInstallWaitLimits(shorter);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute");
    ServeNet(ServeEndingWith("busy-setup", {1618}));
    const SignalLog log = Run(4, 0, 1);
    CloseHandle(mutex);
    SetInstallWaitLimits(saved);
    EXPECT_EQ(InstallerRuns(), (Strings{"busy-setup", "busy-setup"}));
    EXPECT_EQ(log.Outcomes(),
              Strings{std::to_string(kDotNetRow) +
                      ":另一个安装程序仍在运行，请等它结束后重试（安装程序退出码 1618："
                      "正在进行另一个安装操作。请在继续这个安装操作之前完成那个操作。）"});
    EXPECT_EQ(log.Ends(), Strings{std::to_string(kDotNetRow) + ":4:1618"});
}

// A cancelled job (the panel's "取消等待", or the window closing) ends the wait at once and
// does not start the installer again.
TEST_F(ExitCodes, ACancelledJobStopsWaiting) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute");
    ServeNet(ServeEndingWith("busy-setup", {1618, 0}));
    SignalLog log;
    CheckThread thread(1, 0, server.ipPort(), kDocPath, "", 0, logger);
    log.Attach(&thread);
    QObject::connect(&thread, &CheckThread::InstallWaitSig, [&thread](int, int waiting) {
        if (waiting)
            thread.requestInterruption();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunToEnd(thread, 60000));
    CloseHandle(mutex);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(InstallerRuns(), Strings{"busy-setup"});
    EXPECT_EQ(log.Outcomes(), Strings{std::to_string(kDotNetRow) + ":安装已取消"});
    EXPECT_EQ(log.Ends(), Strings{std::to_string(kDotNetRow) + ":3:1618"});
    EXPECT_EQ(log.Last("DownloadCsharpSig"), 1);
}

// Of the CA drivers' installers, one that asks for a restart makes the row's outcome say
// so; one that fails is named with its code and decides the row's end.
TEST_F(ExitCodes, CaDriversTogether) {
    json restart = InstalledDriver("restart.dll", "1.0.0.0", "2024-03-15 10:20");
    restart["fileVersion"] = "2.0.0.0";
    restart["url"] = ServeEndingWith("restart-setup", {3010});
    json fine = InstalledDriver("fine.dll", "1.0.0.0", "2024-03-15 10:20");
    fine["fileVersion"] = "2.0.0.0";
    fine["url"] = ServeEndingWith("fine-setup", {0});
    json doc = BaseDocument();
    doc["shanxi"]["driver"] = json::array({restart, fine});
    ServeDocument(doc);
    const std::string row = std::to_string(kCaRow);
    SignalLog log = Run(3);
    EXPECT_EQ(log.Outcomes(), Strings{row + ":已安装，需重启电脑后生效"});
    EXPECT_EQ(log.Ends(), Strings{row + ":2:3010"});

    fine["url"] = ServeEndingWith("failing-setup", {1603});
    doc["shanxi"]["driver"] = json::array({restart, fine});
    ServeDocument(doc);
    log = Run(4, 0, 4);
    EXPECT_EQ(log.Outcomes(), Strings{row + ":fine.dll：安装程序退出码 1603：安装时发生严重错误"});
    EXPECT_EQ(log.Ends(), Strings{row + ":4:1603"});
}

} // namespace
