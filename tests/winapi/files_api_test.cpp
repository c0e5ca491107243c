// FindFirstFileA, FindClose and FileTimeToSystemTime: names, wildcards, error codes and the
// fields that the file probe reads.
#include "api_env.h"

#include <chrono>
#include <cstdlib>

namespace fs = std::filesystem;
using namespace apitest;

namespace {

struct Found {
    bool ok = false;
    DWORD error = 0;
    std::string name; // GBK
    WIN32_FIND_DATAA data{};
};

Found Find(const std::string& ansiPath) {
    Found f;
    SetLastError(0);
    HANDLE h = FindFirstFileA(ansiPath.c_str(), &f.data);
    if (h == INVALID_HANDLE_VALUE) {
        f.error = GetLastError();
        return f;
    }
    f.ok = true;
    f.name = f.data.cFileName;
    EXPECT_TRUE(FindClose(h));
    return f;
}

uint64_t Ticks(const FILETIME& t) {
    return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
}

FILETIME FileTime(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

const uint64_t kTicksPerSecond = 10000000;
const uint64_t kUnixEpochTicks = 116444736000000000ull; // 1970-01-01 in FILETIME ticks

class FindFirstFile : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        data = machine.dir() / "data";
        WriteFile(data / "Alpha.dll", std::string(5000, 'a'));
        WriteFile(data / "beta.txt", std::string("b"));
        WriteFile(data / "gamma", std::string("g"));
        WriteFile(data / fs::u8path("证书驱动.dll"), std::string("c"));
        fs::create_directories(data / "sub");
    }
    // The probes' way: folder, "//", file name.
    std::string In(const char* name) const { return Ansi(data) + "//" + Gbk(name); }
    fs::path data;
};

TEST_F(FindFirstFile, FindsNamesAndWildcards) {
    const struct {
        const char* pattern;
        const char* name; // nullptr: no match
    } cases[] = {
        {"Alpha.dll", "Alpha.dll"},
        {"ALPHA.DLL", "Alpha.dll"}, // names are case-insensitive
        {"sub", "sub"},             // a folder is found by its name
        {"*.DLL", nullptr},         // set below: two matches, in no promised order
        {"b???.txt", "beta.txt"},
        {"?eta.*", "beta.txt"},
        {"gamma.*", "gamma"}, // ".*" also matches no extension
        {"*", "."},           // "." and ".." come first in a folder
        {"*.*", "."},
        {"证书*", "证书驱动.dll"},
        {"证书驱动.dll", "证书驱动.dll"},
        {"??驱动.dll", "证书驱动.dll"}, // '?' is one character, not one byte
        {"*.exe", nullptr},
        {"alpha.dl", nullptr},
        {"b?.txt", nullptr},
    };
    for (const auto& c : cases) {
        if (std::string(c.pattern) == "*.DLL") {
            const Found f = Find(In(c.pattern));
            EXPECT_TRUE(f.ok);
            EXPECT_TRUE(f.name == "Alpha.dll" || f.name == Gbk("证书驱动.dll")) << f.name;
            continue;
        }
        const Found f = Find(In(c.pattern));
        if (!c.name) {
            EXPECT_FALSE(f.ok) << c.pattern;
            EXPECT_EQ(f.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << c.pattern;
        } else {
            EXPECT_TRUE(f.ok) << c.pattern;
            EXPECT_EQ(f.name, Gbk(c.name)) << c.pattern;
        }
    }
}

TEST_F(FindFirstFile, FailsWithWindowsErrorCodes) {
    const std::string dir = Ansi(data);
    const std::string missingDir = Ansi(machine.dir() / "nofolder");
    const struct {
        std::string path;
        DWORD error;
    } cases[] = {
        {dir + "\\missing.dll", ERROR_FILE_NOT_FOUND},
        {dir + "\\sub\\", ERROR_FILE_NOT_FOUND}, // a folder with a trailing separator
        {missingDir + "\\x.dll", ERROR_PATH_NOT_FOUND},
        {missingDir + "\\*", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        const Found f = Find(c.path);
        EXPECT_FALSE(f.ok) << c.path;
        EXPECT_EQ(f.error, c.error) << c.path;
    }
    // A file used as a folder fails too; the code is not the same everywhere (the stand-in
    // says ERROR_PATH_NOT_FOUND, Wine ERROR_INVALID_NAME), and the probes only see failure.
    EXPECT_FALSE(Find(dir + "\\beta.txt\\x").ok);
}

TEST_F(FindFirstFile, FillsAttributesSizeAndLastWriteTime) {
    // 2023-10-12 01:30:40 UTC, set through the C++ file clock.
    const int64_t unixTime = 1697074240;
    const fs::path file = data / "Alpha.dll";
    const auto target = std::chrono::system_clock::time_point(std::chrono::seconds(unixTime));
    fs::last_write_time(file, fs::file_time_type::clock::now() +
                                  std::chrono::duration_cast<fs::file_time_type::duration>(
                                      target - std::chrono::system_clock::now()));
    const Found f = Find(In("Alpha.dll"));
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(f.data.nFileSizeHigh, 0u);
    EXPECT_EQ(f.data.nFileSizeLow, 5000u);
    const int64_t seconds =
        static_cast<int64_t>((Ticks(f.data.ftLastWriteTime) - kUnixEpochTicks) / kTicksPerSecond);
    EXPECT_LE(std::abs(seconds - unixTime), 1);

    const Found dir = Find(In("sub"));
    ASSERT_TRUE(dir.ok);
    EXPECT_NE(dir.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(dir.data.nFileSizeLow, 0u);

    fs::permissions(data / "beta.txt",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const Found readOnly = Find(In("beta.txt"));
    ASSERT_TRUE(readOnly.ok);
    EXPECT_NE(readOnly.data.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(f.data.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
    fs::permissions(data / "beta.txt", fs::perms::owner_write, fs::perm_options::add);
}

TEST(FileTimeToSystemTime, KnownInstantsStayInUtc) {
    const struct {
        uint64_t ticks;
        WORD year, month, dayOfWeek, day, hour, minute, second, ms;
    } cases[] = {
        {0, 1601, 1, 1, 1, 0, 0, 0, 0},
        {kUnixEpochTicks, 1970, 1, 4, 1, 0, 0, 0, 0},
        {133415478401234567ull, 2023, 10, 4, 12, 1, 30, 40, 123}, // a Thursday
        {kUnixEpochTicks + 951782400ull * kTicksPerSecond, 2000, 2, 2, 29, 0, 0, 0, 0},
        {126227807999990000ull, 2000, 12, 0, 31, 23, 59, 59, 999}, // a Sunday
        {0x7FFFFFFFFFFFFFFFull, 30828, 9, 4, 14, 2, 48, 5, 477},   // the last valid tick
    };
    for (const auto& c : cases) {
        const FILETIME ft = FileTime(c.ticks);
        SYSTEMTIME st{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << c.ticks;
        EXPECT_EQ(st.wYear, c.year) << c.ticks;
        EXPECT_EQ(st.wMonth, c.month) << c.ticks;
        EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek) << c.ticks;
        EXPECT_EQ(st.wDay, c.day) << c.ticks;
        EXPECT_EQ(st.wHour, c.hour) << c.ticks;
        EXPECT_EQ(st.wMinute, c.minute) << c.ticks;
        EXPECT_EQ(st.wSecond, c.second) << c.ticks;
        EXPECT_EQ(st.wMilliseconds, c.ms) << c.ticks;
    }
    const FILETIME negative = FileTime(0x8000000000000000ull);
    SYSTEMTIME st{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const FILETIME allOnes = FileTime(~0ull);
    EXPECT_FALSE(FileTimeToSystemTime(&allOnes, &st));
}

} // namespace
