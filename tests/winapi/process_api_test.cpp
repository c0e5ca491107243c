// ShellExecuteExA with "runas", WaitForSingleObject, GetExitCodeProcess and CloseHandle, as
// the elevated launch uses them.
#include "api_env.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace apitest;

namespace {

SHELLEXECUTEINFOA LaunchRecord(const std::string& ansiFile) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "runas";
    info.lpFile = ansiFile.c_str();
    info.nShow = SW_SHOWNORMAL;
    return info;
}

using ProcessApi = ApiTest;

TEST_F(ProcessApi, RunsToTheEndAndHandsBackTheExitCode) {
    const struct {
        const char* folder;
        const char* name;
        int exitCode;
    } cases[] = {
        {"downloads", "setup", 0},
        {"downloads", "failing-setup", 1603},
        {"山西", "证书驱动安装", 3},
    };
    for (const auto& c : cases) {
        if (!AnsiIsGbk() && c.exitCode == 3)
            continue; // a Chinese path needs the GBK code page
        const fs::path installer =
            WriteInstaller(machine.dir() / fs::u8path(c.folder), c.name, c.exitCode);
        const std::string path = Ansi(installer);
        SHELLEXECUTEINFOA info = LaunchRecord(path);
        ASSERT_TRUE(ShellExecuteExA(&info)) << c.name << ": error " << GetLastError();
        ASSERT_NE(info.hProcess, nullptr) << c.name;
        EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
#ifdef _WIN32
        EXPECT_EQ(code, static_cast<DWORD>(c.exitCode)) << c.name;
#else
        EXPECT_EQ(code, static_cast<DWORD>(c.exitCode & 0xFF)) << c.name; // 8-bit exit status
#endif
        EXPECT_TRUE(CloseHandle(info.hProcess));
    }
}

TEST_F(ProcessApi, ARunningInstallerIsStillActiveUntilItEnds) {
    const fs::path gate = machine.dir() / "go";
    const fs::path installer = WriteInstaller(machine.dir() / "downloads", "slow-setup", 7, gate);
    const std::string path = Ansi(installer);
    SHELLEXECUTEINFOA info = LaunchRecord(path);
    ASSERT_TRUE(ShellExecuteExA(&info)) << "error " << GetLastError();
    ASSERT_NE(info.hProcess, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    WriteFile(gate, std::string("go"));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 7u);
    // Waiting again on an ended process returns at once.
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(ProcessApi, WithoutTheProcessMaskNoHandleIsHandedBack) {
    const fs::path installer = WriteInstaller(machine.dir(), "quick-setup", 0);
    const std::string path = Ansi(installer);
    SHELLEXECUTEINFOA info = LaunchRecord(path);
    info.fMask = SEE_MASK_DEFAULT;
    ASSERT_TRUE(ShellExecuteExA(&info));
    EXPECT_EQ(info.hProcess, nullptr);
    // Let the child end before the test's folder goes away.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

TEST_F(ProcessApi, AMissingFileIsNotStarted) {
    std::filesystem::create_directories(machine.dir() / "downloads");
    const struct {
        std::filesystem::path file;
        DWORD error;
        std::vector<uintptr_t> instApp; // SE_ERR_FNF, or SE_ERR_PNF for a missing folder
    } cases[] = {
        {machine.dir() / "downloads" / "no-such-setup.exe", ERROR_FILE_NOT_FOUND, {SE_ERR_FNF}},
        {machine.dir() / "no-such-folder" / "setup.exe", ERROR_PATH_NOT_FOUND, {SE_ERR_FNF, 3}},
    };
    for (const auto& c : cases) {
        const std::string path = Ansi(c.file);
        SHELLEXECUTEINFOA info = LaunchRecord(path);
        SetLastError(0);
        EXPECT_FALSE(ShellExecuteExA(&info)) << path;
        // Wine tries to show its error dialog and leaves ERROR_INVALID_WINDOW_HANDLE behind
        // instead of the missing file's error.
        if (!RunningUnderWine()) {
            const DWORD error = GetLastError();
            EXPECT_TRUE(error == c.error || error == ERROR_FILE_NOT_FOUND) << path << ": " << error;
        }
        const uintptr_t instApp = reinterpret_cast<uintptr_t>(info.hInstApp);
        EXPECT_NE(std::find(c.instApp.begin(), c.instApp.end(), instApp), c.instApp.end())
            << path << ": " << instApp;
        EXPECT_EQ(info.hProcess, nullptr) << path;
    }
}

} // namespace
