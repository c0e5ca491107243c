// The demo installer ending with a chosen exit code, Windows' text for it, and the wait for
// another installation (exit code 1618) while another process holds Windows Installer's
// mutex. The same cases run over winshim and, built for Windows, under Wine.
#include "probe_test_env.h"
#include "probes/installer_run.h"
#include "probes/system_message.h"
#include "probes/textconv.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace probetest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const char kMsiMutex[] = "Global\\_MSIExecute";

// A path the build names: under Wine a Unix path, which is drive Z: there.
std::string BuildPath(const char* path) {
    std::string p = path;
#ifdef _WIN32
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p;
        for (char& c : p)
            if (c == '/')
                c = '\\';
    }
#endif
    return p;
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class InstallerRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        codesFile_ = "C:\\installer-exit-codes.txt";
        installsLog_ = "C:\\installs.log";
#else
        codesFile_ = machine_.dir() / "installer-exit-codes.txt";
        installsLog_ = machine_.dir() / "installs.log";
        setenv("QUELDA_BIN", QUELDA_BIN_DIR, 1);
#endif
        std::error_code ec;
        fs::remove(installsLog_, ec);
        fs::remove(codesFile_, ec);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove(codesFile_, ec);
        fs::remove(installsLog_, ec);
#ifdef _WIN32
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quelda\\BidTool");
#endif
        for (HANDLE helper : helpers_) {
            WaitForSingleObject(helper, INFINITE);
            CloseHandle(helper);
        }
    }

    // The exit codes of the demo installer's next runs, in order.
    void ChooseExitCodes(const std::string& lines) {
        ASSERT_TRUE(WriteFileBytes(codesFile_, lines));
    }
    int Installs() {
        int lines = 0;
        for (char c : ReadText(installsLog_))
            lines += c == '\n';
        return lines;
    }

    // Another process owns Windows Installer's mutex for `ms` milliseconds from now.
    void HoldInstallerMutex(int ms) {
        const fs::path ready = machine_.dir() / ("ready-" + std::to_string(helpers_.size()));
        const std::string file = BuildPath(QUELDA_HOLD_MUTEX_EXE);
        const std::string parameters =
            std::string(kMsiMutex) + " " + std::to_string(ms) + " \"" + ready.string() + "\"";
        SHELLEXECUTEINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = "open";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.c_str();
        info.nShow = SW_HIDE;
        ASSERT_TRUE(ShellExecuteExA(&info)) << file << ": error " << GetLastError();
        helpers_.push_back(info.hProcess);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!fs::exists(ready) && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(20));
        ASSERT_TRUE(fs::exists(ready)) << "the mutex helper did not take the mutex";
    }

    InstallerRun Run(const OtherInstallWait& wait) {
        return RunElevatedAfterOthers(installer_, wait);
    }

    TempMachine machine_;
    fs::path codesFile_;
    fs::path installsLog_;
    std::string installer_ = BuildPath(QUELDA_DEMO_INSTALLER);
    std::vector<HANDLE> helpers_;
};

TEST_F(InstallerRunTest, DemoInstallerEndsWithTheChosenCode) {
    const struct {
        unsigned long code;
        bool installs;
    } cases[] = {{3010, true}, {1641, true}, {1603, false}, {1602, false}, {0, true}};
    int installs = 0;
    for (const auto& c : cases) {
        ChooseExitCodes(std::to_string(c.code) + "\n");
        const InstallerRun run = Run(OtherInstallWait{});
        EXPECT_EQ(run.result, 1) << c.code;
        EXPECT_EQ(run.exitCode, c.code);
        EXPECT_FALSE(run.waited) << c.code;
        installs += c.installs ? 1 : 0;
        EXPECT_EQ(Installs(), installs) << c.code;
    }
}

TEST_F(InstallerRunTest, WindowsExplainsAnInstallerFailure) {
    const std::string text = SystemMessageText(1603);
    std::cout << "FormatMessageW(1603): " << text << "\n";
    ::testing::Test::RecordProperty("message1603", text);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    if (!RunningUnderWine() && AnsiIsGbk()) {
#ifndef _WIN32
        EXPECT_EQ(text, "安装时发生严重错误");
        EXPECT_EQ(SystemMessageText(3010), "请求的操作成功。直到重新启动系统前更改将不会生效。");
#endif
    }
    // A code Windows has no message for.
    EXPECT_EQ(SystemMessageText(0x20001234), "");
}

TEST_F(InstallerRunTest, WaitsWhileAnotherInstallationRunsThenStartsAgain) {
    ChooseExitCodes("1618\n0\n");
    HoldInstallerMutex(1500);
    ASSERT_TRUE(WindowsInstallerBusy());
    std::vector<bool> told;
    OtherInstallWait wait;
    wait.limit = std::chrono::seconds(30);
    wait.poll = milliseconds(100);
    wait.waiting = [&](bool waiting) { told.push_back(waiting); };
    const auto start = Clock::now();
    const InstallerRun run = Run(wait);
    EXPECT_GE(Clock::now() - start, milliseconds(500)); // it waited for the helper
    EXPECT_TRUE(run.waited);
    EXPECT_FALSE(run.stopped);
    EXPECT_EQ(run.exitCode, 0ul);
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
    EXPECT_EQ(Installs(), 1);
    EXPECT_FALSE(WindowsInstallerBusy());
}

// How long the wait itself lasted, from the callbacks (the installer's starts, slow under
// Wine, do not count).
struct WaitClock {
    Clock::time_point began, ended;
    std::function<void(bool)> Callback() {
        return [this](bool waiting) { (waiting ? began : ended) = Clock::now(); };
    }
    Clock::duration Span() const { return ended - began; }
};

TEST_F(InstallerRunTest, GivesUpWaitingAfterTheLimitAndTriesOnce) {
    ChooseExitCodes("1618\n1618\n0\n");
    HoldInstallerMutex(3000);
    WaitClock clock;
    OtherInstallWait wait;
    wait.limit = milliseconds(300);
    wait.poll = milliseconds(50);
    wait.waiting = clock.Callback();
    const InstallerRun run = Run(wait);
    EXPECT_GE(clock.Span(), milliseconds(250));
    EXPECT_LT(clock.Span(), milliseconds(2000));
    EXPECT_TRUE(run.waited);
    EXPECT_EQ(run.exitCode, 1618ul); // the second start still found it busy
    EXPECT_EQ(Installs(), 0);
}

TEST_F(InstallerRunTest, AStopEndsTheWaitWithoutASecondStart) {
    ChooseExitCodes("1618\n0\n");
    HoldInstallerMutex(3000);
    WaitClock clock;
    OtherInstallWait wait;
    wait.limit = std::chrono::seconds(30);
    wait.waiting = clock.Callback();
    wait.stop = [&] {
        return clock.began != Clock::time_point() && Clock::now() - clock.began > milliseconds(200);
    };
    const InstallerRun run = Run(wait);
    EXPECT_LT(clock.Span(), milliseconds(2000));
    EXPECT_TRUE(run.stopped);
    EXPECT_EQ(run.exitCode, 1618ul);
    EXPECT_EQ(Installs(), 0);
}

TEST_F(InstallerRunTest, WithNobodyInstallingItStartsAgainAtOnce) {
    ChooseExitCodes("1618\n3010\n");
    EXPECT_FALSE(WindowsInstallerBusy());
    OtherInstallWait wait; // the product's 10 minutes
    const auto start = Clock::now();
    const InstallerRun run = Run(wait);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(run.waited);
    EXPECT_EQ(run.exitCode, 3010ul);
    EXPECT_EQ(Installs(), 1);
}

} // namespace
