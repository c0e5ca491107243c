// ShellExecuteExA with real child processes (shell scripts as installers), and the handle
// functions that wait for them.
#include "machine_ansi.h"
#include "pe_fixture.h"
#include "temp_machine.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

std::filesystem::path WriteScript(TempMachine& machine, const std::string& windowsPath,
                                  const std::string& body, mode_t mode = 0644) {
    const auto p = machine.Native(windowsPath);
    {
        std::ofstream out(p, std::ios::trunc);
        out << "#!/bin/sh\n" << body << "\n";
    }
    chmod(p.c_str(), mode);
    return p;
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The path must outlive the record, as with the Windows API.
SHELLEXECUTEINFOA Info(const char* gbkFile, const char* verb = "runas") {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = gbkFile;
    info.nShow = SW_SHOWNORMAL;
    return info;
}

// Runs the file as the elevated launch does and returns its exit code, or -1 if it did
// not start.
long long RunAndWait(const std::string& gbkFile) {
    SHELLEXECUTEINFOA info = Info(gbkFile.c_str());
    if (!ShellExecuteExA(&info))
        return -1;
    EXPECT_GT(reinterpret_cast<uintptr_t>(info.hInstApp), 32u);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    return code;
}

} // namespace

TEST(ShellExecuteEx, ReportsTheInstallersExitCode) {
    TempMachine machine;
    const struct {
        const char* body;
        long long code;
    } cases[] = {
        {"exit 0", 0},
        {"exit 3", 3},
        // Exit statuses are 8 bits here: 1603 (an MSI failure) arrives as 1603 % 256.
        {"exit 1603", 1603 % 256},
        {"kill -9 $$", 128 + 9}, // a signal death
    };
    for (const auto& c : cases) {
        WriteScript(machine, "C:\\setup.exe", c.body);
        EXPECT_EQ(RunAndWait("C:\\setup.exe"), c.code) << c.body;
    }
}

TEST(ShellExecuteEx, SetsTheRunBitAndAcceptsGbkPaths) {
    TempMachine machine;
    const std::string utf8 = "C:\\下载\\山西\\证书驱动安装.exe";
    const auto script =
        WriteScript(machine, utf8, "echo started > \"$(dirname \"$0\")/ran.txt\"", 0600);
    EXPECT_EQ(RunAndWait(winshim::Utf8ToAnsiText(utf8)), 0);
    EXPECT_EQ(ReadFile(script.parent_path() / "ran.txt"), "started\n");
    struct stat st;
    ASSERT_EQ(stat(script.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_EQ(st.st_mode & 0777, 0700u); // only the owner's run bit was added
}

TEST(ShellExecuteEx, FailsLikeTheWindowsShell) {
    TempMachine machine;
    WriteBytes(machine.Native("C:\\data.exe"), {'M', 'Z', 0, 0, 'n', 'o', 't', ' ', 'E', 'L', 'F'});
    WriteScript(machine, "C:\\nointerp.exe", "");
    {
        std::ofstream(machine.Native("C:\\nointerp.exe"), std::ios::trunc)
            << "#!/no/such/interpreter\nexit 0\n";
    }
    std::filesystem::create_directories(machine.Native("C:\\folder.exe"));
    const struct {
        const char* path;
        const char* verb;
        DWORD error;
        uintptr_t shellError;
    } cases[] = {
        {"C:\\missing.exe", "runas", ERROR_FILE_NOT_FOUND, SE_ERR_FNF},
        {"C:\\no\\folder\\x.exe", "runas", ERROR_PATH_NOT_FOUND, 3},
        {"", "runas", ERROR_FILE_NOT_FOUND, SE_ERR_FNF},
        {"C:\\data.exe", "runas", ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
        {"C:\\nointerp.exe", "open", ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
        {"C:\\folder.exe", nullptr, ERROR_ACCESS_DENIED, SE_ERR_ACCESSDENIED},
        {"C:\\data.exe", "print", 1155, 31}, // no association for the verb
    };
    for (const auto& c : cases) {
        SHELLEXECUTEINFOA info = Info(c.path, c.verb);
        info.hProcess = reinterpret_cast<HANDLE>(0x1234);
        SetLastError(0);
        EXPECT_FALSE(ShellExecuteExA(&info)) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(info.hInstApp), c.shellError) << c.path;
        EXPECT_EQ(info.hProcess, nullptr) << c.path;
    }
    SHELLEXECUTEINFOA bad = Info("C:\\x.exe");
    bad.cbSize = 12;
    EXPECT_FALSE(ShellExecuteExA(&bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ShellExecuteExA(nullptr));
}

TEST(ShellExecuteEx, PassesParametersDirectoryAndEnvironment) {
    TempMachine machine;
    std::filesystem::create_directories(machine.Native("D:\\work"));
    WriteScript(machine, "C:\\args.exe",
                "{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; echo \"$QUELDA_MACHINE\"; } > "
                "out.txt");
    SHELLEXECUTEINFOA info = Info("C:\\args.exe", "open");
    info.lpParameters = "/quiet \"two words\"  last";
    info.lpDirectory = "D:\\work";
    ASSERT_TRUE(ShellExecuteExA(&info));
    ASSERT_EQ(WaitForSingleObject(info.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(info.hProcess);
    const auto work = std::filesystem::canonical(machine.Native("D:\\work"));
    EXPECT_EQ(ReadFile(work / "out.txt"),
              work.string() + "\n[/quiet]\n[two words]\n[last]\n" + machine.dir().string() + "\n");

    SHELLEXECUTEINFOA missingDir = Info("C:\\args.exe");
    missingDir.lpDirectory = "D:\\nowhere";
    EXPECT_FALSE(ShellExecuteExA(&missingDir));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(ShellExecuteEx, WaitTimesOutWhileRunningThenSeesTheEnd) {
    TempMachine machine;
    WriteScript(machine, "C:\\slow.exe", "sleep 0.4; exit 7");
    SHELLEXECUTEINFOA info = Info("C:\\slow.exe");
    ASSERT_TRUE(ShellExecuteExA(&info));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    // Waiting again on an ended process returns at once.
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST(ShellExecuteEx, HandlesAreCheckedAndClosedOnce) {
    TempMachine machine;
    WriteScript(machine, "C:\\quick.exe", "exit 0");
    SHELLEXECUTEINFOA info = Info("C:\\quick.exe");
    ASSERT_TRUE(ShellExecuteExA(&info));
    const HANDLE h = info.hProcess;
    EXPECT_FALSE(FindClose(h)); // not a search handle
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(h, &code));
    EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_FAILED));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), static_cast<DWORD>(WAIT_FAILED));

    // Without SEE_MASK_NOCLOSEPROCESS no handle comes back; the child still runs.
    const auto marker = machine.Native("C:\\marker.txt");
    WriteScript(machine, "C:\\detached.exe", "echo done > \"" + marker.string() + "\"");
    SHELLEXECUTEINFOA detached = Info("C:\\detached.exe");
    detached.fMask = SEE_MASK_DEFAULT;
    ASSERT_TRUE(ShellExecuteExA(&detached));
    EXPECT_EQ(detached.hProcess, nullptr);
    for (int i = 0; i < 500 && ReadFile(marker) != "done\n"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReadFile(marker), "done\n");
}

TEST(ShellExecuteEx, ConcurrentLaunchesEachSeeTheirOwnChild) {
    TempMachine machine;
    constexpr int kThreads = 6;
    for (int i = 0; i < kThreads; ++i)
        WriteScript(machine, "C:\\t" + std::to_string(i) + ".exe",
                    "sleep 0.0" + std::to_string(i) + "; exit " + std::to_string(10 + i), 0600);
    std::vector<long long> codes(kThreads, -2);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(
            [i, &codes] { codes[i] = RunAndWait("C:\\t" + std::to_string(i) + ".exe"); });
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(codes[i], 10 + i) << i;
}

TEST(ShellExecuteEx, TwoThreadsWaitOnOneProcess) {
    TempMachine machine;
    WriteScript(machine, "C:\\shared.exe", "sleep 0.2; exit 5");
    SHELLEXECUTEINFOA info = Info("C:\\shared.exe");
    ASSERT_TRUE(ShellExecuteExA(&info));
    DWORD results[2] = {1, 1};
    std::thread a([&] { results[0] = WaitForSingleObject(info.hProcess, INFINITE); });
    std::thread b([&] { results[1] = WaitForSingleObject(info.hProcess, 10000); });
    a.join();
    b.join();
    EXPECT_EQ(results[0], static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(results[1], static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 5u);
    CloseHandle(info.hProcess);
}

namespace {

// A child ends with a Windows exit code beyond 8 bits through its exit code file; without
// a usable file, or when a signal ends it, the exit status counts as before.
TEST(ProcessExitCodeFile, CarriesTheWholeWindowsCode) {
    TempMachine machine;
    const struct {
        const char* name;
        const char* body;
        long long code;
    } cases[] = {
        {"reboot", "echo 3010 > \"$WINSHIM_EXIT_CODE_FILE\"; exit 0", 3010},
        {"huge", "echo 3221225477 > \"$WINSHIM_EXIT_CODE_FILE\"; exit 5", 3221225477LL},
        {"nothing", "exit 7", 7},
        {"garbage", "echo soon > \"$WINSHIM_EXIT_CODE_FILE\"; exit 9", 9},
        {"too-big", "echo 4294967296 > \"$WINSHIM_EXIT_CODE_FILE\"; exit 2", 2},
        {"killed", "echo 1603 > \"$WINSHIM_EXIT_CODE_FILE\"; kill -9 $$", 128 + 9},
    };
    for (const auto& c : cases) {
        const auto script =
            WriteScript(machine, std::string("C:\\setup\\") + c.name + ".exe", c.body, 0755);
        EXPECT_EQ(RunAndWait(script.string()), c.code) << c.name;
    }
}

// The child does not see an exit code file of its parent's.
TEST(ProcessExitCodeFile, EachChildHasItsOwn) {
    TempMachine machine;
    setenv("WINSHIM_EXIT_CODE_FILE", "/nonexistent/parent", 1);
    const auto out = machine.dir() / "seen.txt";
    const auto script =
        WriteScript(machine, "C:\\setup\\own.exe",
                    "echo \"$WINSHIM_EXIT_CODE_FILE\" > '" + out.string() + "'", 0755);
    EXPECT_EQ(RunAndWait(script.string()), 0);
    unsetenv("WINSHIM_EXIT_CODE_FILE");
    const std::string seen = ReadFile(out);
    EXPECT_EQ(seen.find("/nonexistent/parent"), std::string::npos) << seen;
    EXPECT_NE(seen.find("winshim-exit-"), std::string::npos) << seen;
    EXPECT_FALSE(std::filesystem::exists(seen.substr(0, seen.find('\n'))));
}

} // namespace
