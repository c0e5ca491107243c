// FindFirstFileA over the machine folder: exact names, folders, wildcards, GBK names,
// Windows' error codes, and what lands in WIN32_FIND_DATAA.
#include "machine_ansi.h"
#include "pe_fixture.h"
#include "temp_machine.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct Found {
    bool ok = false;
    DWORD error = 0;
    WIN32_FIND_DATAA data{};
    std::string name; // UTF-8
};

Found Find(const std::string& utf8Path) {
    Found f;
    SetLastError(0);
    const HANDLE h = FindFirstFileA(winshim::Utf8ToAnsiText(utf8Path).c_str(), &f.data);
    f.error = GetLastError();
    f.ok = h != INVALID_HANDLE_VALUE;
    if (f.ok) {
        EXPECT_NE(h, nullptr);
        f.name = winshim::AnsiToUtf8Text(f.data.cFileName);
        EXPECT_TRUE(FindClose(h));
    }
    return f;
}

uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

void SetModified(const std::filesystem::path& p, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

class FindFirstFile : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBytes(machine.Native("C:\\data\\Alpha.dll"), std::vector<uint8_t>(5000, 'a'));
        WriteBytes(machine.Native("C:\\data\\beta.txt"), {'b'});
        WriteBytes(machine.Native("C:\\data\\gamma"), {'g'});
        WriteBytes(machine.Native("C:\\data\\证书驱动.dll"), {'c'});
        std::filesystem::create_directories(machine.Native("C:\\data\\sub\\x"));
        WriteBytes(machine.Native("C:\\top.txt"), {'t'});
    }
    TempMachine machine;
};

} // namespace

// The stand-in's own paths: its drives, both separators, and names in sorted order. Names,
// wildcards, error codes and the common fields are checked through the Windows API suite.
TEST_F(FindFirstFile, MapsDrivesAndSeparatorsAndSortsNames) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"C:\\data\\Alpha.dll", "Alpha.dll"},
        {"C:/data/Alpha.dll", "Alpha.dll"},
        {"c:\\data//Alpha.dll", "Alpha.dll"}, // the probes' "dir//file"
        {"C:\\data\\*.dll", "Alpha.dll"},     // sorted: 'A' before the Chinese name
        {"C:\\data\\*.DLL", "Alpha.dll"},
        {"C:\\*.txt", "top.txt"},
        {"C:\\*", "data"}, // no "." or ".." in a drive's root
    };
    for (const auto& c : cases) {
        const Found f = Find(c.path);
        EXPECT_TRUE(f.ok) << c.path;
        EXPECT_EQ(f.name, c.name) << c.path;
    }
}

TEST_F(FindFirstFile, FailsWithWindowsErrorCodes) {
    const struct {
        const char* path;
        DWORD error;
    } cases[] = {
        {"C:\\data\\sub/", ERROR_FILE_NOT_FOUND},        // a folder with a trailing separator
        {"C:\\data\\beta.txt\\x", ERROR_PATH_NOT_FOUND}, // a file used as a folder
        {"Q:\\x.dll", ERROR_PATH_NOT_FOUND},             // a drive that does not exist
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        const Found f = Find(c.path);
        EXPECT_FALSE(f.ok) << c.path;
        EXPECT_EQ(f.error, c.error) << c.path;
    }
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(nullptr, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("C:\\top.txt", nullptr), INVALID_HANDLE_VALUE);
}

// The last-write time to the 100 ns tick, and no short name.
TEST_F(FindFirstFile, KeepsTheFullTimeAndNoShortName) {
    SetModified(machine.Native("C:\\data\\Alpha.dll"), 1697074240,
                123456789); // 2023-10-12 01:30:40.123456789 UTC
    const Found file = Find("C:\\data\\Alpha.dll");
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(Ticks(file.data.ftLastWriteTime), 133415478401234567ull);
    EXPECT_STREQ(file.data.cAlternateFileName, "");
}

TEST_F(FindFirstFile, LargeFileSizeSplitsIntoHighAndLow) {
    const auto p = machine.Native("C:\\big.bin");
    WriteBytes(p, {});
    std::filesystem::resize_file(p, (uint64_t{5} << 32) + 7); // sparse
    const Found f = Find("C:\\big.bin");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.data.nFileSizeHigh, 5u);
    EXPECT_EQ(f.data.nFileSizeLow, 7u);
}

TEST_F(FindFirstFile, HandlesCloseOnceAndOnlyWithFindClose) {
    WIN32_FIND_DATAA data;
    const HANDLE a = FindFirstFileA("C:\\top.txt", &data);
    const HANDLE b = FindFirstFileA("C:\\top.txt", &data);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    EXPECT_NE(a, b);
    EXPECT_FALSE(CloseHandle(a)); // not a kernel object
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FindClose(a));
    EXPECT_FALSE(FindClose(a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_TRUE(FindClose(b));
}
