#include "probe_test_env.h"
#include "probes/elevated.h"
#include "probes/textconv.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace probetest;

namespace {
const char kStartedLine[] = "Program started successfully with admin privileges.\n";

// The caller hands RunElevated a path in the local code page (GBK).
std::string AnsiPath(const fs::path& p) {
    return Utf8ToGbk(p.u8string());
}

bool IsAscii(const std::string& text) {
    for (unsigned char ch : text)
        if (ch >= 0x80)
            return false;
    return true;
}

struct InstallerCase {
    const char* folder;
    const char* name;
    int exitCode;
};

TEST(RunElevated, RunsTheInstallerToItsEndWhateverItsExitCode) {
    const InstallerCase cases[] = {
        {"downloads", "setup", 0},
        {"downloads", "failing-setup", 1603},
        {"山西", "证书驱动安装", 3},
    };
    for (const auto& c : cases) {
        if (!AnsiIsGbk() && !IsAscii(c.folder))
            continue; // a Chinese path needs the GBK code page
        TempMachine machine;
        const fs::path marker = machine.dir() / "installer-ran";
        const fs::path installer =
            WriteInstaller(machine.dir() / fs::u8path(c.folder), c.name, marker, c.exitCode);
        testing::internal::CaptureStdout();
        std::optional<unsigned long> exitCode;
        int rc = RunElevated(AnsiPath(installer), &exitCode);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, 1) << c.name;
#ifdef _WIN32
        const unsigned long expectedExit = static_cast<unsigned long>(c.exitCode);
#else
        const unsigned long expectedExit = static_cast<unsigned long>(c.exitCode) & 0xff;
#endif
        EXPECT_EQ(exitCode, expectedExit) << c.name;
        EXPECT_EQ(out, kStartedLine) << c.name;
        // The wait is for the installer's end: its work is done when the call returns.
        EXPECT_TRUE(fs::exists(marker)) << c.name;
    }
}

TEST(RunElevated, MissingInstallerIsNotStartedAndPrintsNothing) {
    TempMachine machine;
    testing::internal::CaptureStdout();
    int rc = RunElevated(AnsiPath(machine.dir() / "downloads" / "no-such-setup.exe"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(out, "");
}
} // namespace
