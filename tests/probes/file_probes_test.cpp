#include "pewriter.h"
#include "probe_test_env.h"
#include "probes/file_probes.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace probetest;

namespace {
// 2023-10-12 01:30:40 UTC, which is 09:30:40 in China Standard Time.
const int64_t kOct12At0130Utc = 1697074240;
const __time64_t kUntouchedTime = 12345;

std::vector<uint8_t> PeImage(pewriter::Machine machine, bool dll, const char* version) {
    pewriter::FourPartVersion v{};
    EXPECT_TRUE(pewriter::ParseVersion(version, v)) << version;
    pewriter::ImageSpec imageSpec;
    imageSpec.machine = machine;
    imageSpec.dll = dll;
    imageSpec.version = pewriter::MakeVersionResource(v);
    return pewriter::BuildImage(imageSpec);
}

class FileVersionTime : public ::testing::Test {
  protected:
    fs::path Dir(const char* nameUtf8) const { return machine.dir() / fs::u8path(nameUtf8); }
    TempMachine machine;
    ScopedTimeZone cst{"CST-8"};
};

struct VersionCase {
    pewriter::Machine machine;
    bool dll;
    const char* version;
};

TEST_F(FileVersionTime, ReadsTheFixedFileVersion) {
    const VersionCase cases[] = {
        {pewriter::Machine::I386, true, "1.2.3.4"},
        {pewriter::Machine::I386, false, "10.0.19041.1"},
        {pewriter::Machine::Amd64, true, "65535.0.65535.0"},
    };
    const fs::path dir = Dir("drivers");
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFileBytes(dir / "component.dll", PeImage(c.machine, c.dll, c.version)));
        __time64_t time = kUntouchedTime;
        std::string version;
        EXPECT_EQ(GetFileVersionTime(dir, "component.dll", time, version), 1) << c.version;
        EXPECT_EQ(version, c.version);
        EXPECT_NE(time, kUntouchedTime) << c.version;
    }
}

TEST_F(FileVersionTime, FileTimeMatchesTheSameMinuteWrittenInChinaStandardTime) {
    const fs::path dir = Dir("drivers");
    const fs::path file = dir / "component.dll";
    ASSERT_TRUE(WriteFileBytes(file, PeImage(pewriter::Machine::I386, true, "1.2.3.4")));
    ASSERT_TRUE(SetLastWriteUnixTime(file, kOct12At0130Utc));
    __time64_t time = 0;
    std::string version;
    ASSERT_EQ(GetFileVersionTime(dir, "component.dll", time, version), 1);
    EXPECT_EQ(time, ParseDateTime("2023-10-12 09:30"));
    EXPECT_NE(time, ParseDateTime("2023-10-12 09:31"));
    EXPECT_EQ(time, kOct12At0130Utc - 40 - 28800);
}

TEST_F(FileVersionTime, PlainFileHasATimeButNoVersion) {
    const fs::path dir = Dir("drivers");
    ASSERT_TRUE(WriteFileBytes(dir / "readme.txt", std::string("not an executable")));
    ASSERT_TRUE(SetLastWriteUnixTime(dir / "readme.txt", kOct12At0130Utc));
    __time64_t time = kUntouchedTime;
    std::string version = "unchanged";
    EXPECT_EQ(GetFileVersionTime(dir, "readme.txt", time, version), -2);
    EXPECT_EQ(time, ParseDateTime("2023-10-12 09:30"));
    EXPECT_EQ(version, "unchanged");
}

TEST_F(FileVersionTime, MissingFileOrFolderSetsNothing) {
    const fs::path dir = Dir("drivers");
    ASSERT_TRUE(WriteFileBytes(dir / "other.dll", std::string("x")));
    for (const auto& where : {dir, Dir("no-such-folder")}) {
        __time64_t time = kUntouchedTime;
        std::string version = "unchanged";
        EXPECT_EQ(GetFileVersionTime(where, "component.dll", time, version), -1);
        EXPECT_EQ(time, kUntouchedTime);
        EXPECT_EQ(version, "unchanged");
    }
}

TEST_F(FileVersionTime, DirectoryEndingInASeparatorStillWorks) {
    const fs::path dir = Dir("drivers");
    ASSERT_TRUE(
        WriteFileBytes(dir / "component.dll", PeImage(pewriter::Machine::I386, true, "2.0.0.7")));
    const fs::path withSeparator = fs::path(dir.native() + fs::path::preferred_separator);
    __time64_t time = 0;
    std::string version;
    EXPECT_EQ(GetFileVersionTime(withSeparator, "component.dll", time, version), 1);
    EXPECT_EQ(version, "2.0.0.7");
}

TEST_F(FileVersionTime, FolderAndFileNamesMatchWhateverTheirCase) {
    const fs::path dir = Dir("Program Files") / "Q" / "CA";
    ASSERT_TRUE(WriteFileBytes(dir / "A.dll", PeImage(pewriter::Machine::I386, true, "1.2.3.4")));
    __time64_t time = kUntouchedTime;
    std::string version;
    EXPECT_EQ(GetFileVersionTime(Dir("program files") / "q" / "ca", "a.DLL", time, version), 1);
    EXPECT_EQ(version, "1.2.3.4");
}

TEST_F(FileVersionTime, ChineseFolderAndFileNames) {
    if (!AnsiIsGbk())
        GTEST_SKIP() << "the ANSI code page is not GBK";
    const fs::path dir = Dir("证书驱动");
    ASSERT_TRUE(WriteFileBytes(dir / fs::u8path("驱动程序.dll"),
                               PeImage(pewriter::Machine::I386, true, "3.1.4.1")));
    __time64_t time = 0;
    std::string version;
    EXPECT_EQ(GetFileVersionTime(dir, "驱动程序.dll", time, version), 1);
    EXPECT_EQ(version, "3.1.4.1");
}

struct AppConfigCase {
    const char* what;
    const char* xml; // nullptr: no file
    int result;
    const char* version;
};

TEST(AppConfigVersion, ReadsTheFirstVersionEntryOfAppSettings) {
    const AppConfigCase cases[] = {
        {"found",
         "<?xml version=\"1.0\"?><configuration><appSettings>"
         "<add key=\"Server\" value=\"x\"/><add key=\"Version\" value=\"3.2.1\"/>"
         "</appSettings></configuration>",
         1, "3.2.1"},
        {"first match only",
         "<configuration><appSettings><add key=\"Version\" value=\"1.0\"/>"
         "<add key=\"Version\" value=\"2.0\"/></appSettings></configuration>",
         1, "1.0"},
        {"any element name, comments between",
         "<configuration><appSettings><!-- c --><setting key=\"Version\" value=\"9\"/>"
         "</appSettings></configuration>",
         1, "9"},
        {"entry without value",
         "<configuration><appSettings><add key=\"Version\"/></appSettings></configuration>", 1, ""},
        {"only the first appSettings counts",
         "<configuration><appSettings/><appSettings><add key=\"Version\" value=\"5\"/>"
         "</appSettings></configuration>",
         -2, "unchanged"},
        {"lower-case key",
         "<configuration><appSettings><add key=\"version\" value=\"3.2.1\"/></appSettings>"
         "</configuration>",
         -2, "unchanged"},
        {"no appSettings", "<configuration><startup/></configuration>", -2, "unchanged"},
        {"no configuration",
         "<settings><appSettings><add key=\"Version\" value=\"1\"/></appSettings></settings>", -2,
         "unchanged"},
        {"not well-formed", "<configuration><appSettings></configuration>", -1, "unchanged"},
        {"empty file", "", -1, "unchanged"},
        {"missing file", nullptr, -1, "unchanged"},
    };
    for (const auto& c : cases) {
        TempMachine machine;
        const fs::path dir = machine.dir() / "tool";
        fs::create_directories(dir);
        if (c.xml) {
            ASSERT_TRUE(WriteFileBytes(dir / "Tool.exe.config", std::string(c.xml)));
        }
        std::string version = "unchanged";
        EXPECT_EQ(GetAppConfigVersion(dir, "Tool.exe.config", version), c.result) << c.what;
        EXPECT_EQ(version, c.version) << c.what;
    }
}

TEST(AppConfigVersion, DetectsUtf16AndReadsChinesePaths) {
    if (!AnsiIsGbk())
        GTEST_SKIP() << "the ANSI code page is not GBK";
    TempMachine machine;
    const fs::path dir = machine.dir() / fs::u8path("投标工具");
    const std::string xml =
        "<configuration><appSettings><add key=\"Version\" value=\"4.0\"/></appSettings>"
        "</configuration>";
    std::string utf16 = "\xFF\xFE";
    for (char ch : xml) {
        utf16.push_back(ch);
        utf16.push_back('\0');
    }
    ASSERT_TRUE(WriteFileBytes(dir / fs::u8path("配置.config"), utf16));
    std::string version;
    EXPECT_EQ(GetAppConfigVersion(dir, "配置.config", version), 1);
    EXPECT_EQ(version, "4.0");
}
} // namespace
