// Null pointers that the stand-in's FILETIME and C runtime time functions refuse. (Windows
// faults on these or ends the process through the runtime's invalid-parameter handler.)
#include <winshim/windows.h>

#include <gtest/gtest.h>

TEST(TimeFunctions, RefuseNullPointers) {
    SYSTEMTIME st{};
    const FILETIME ft{0, 0};
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &st));
    EXPECT_FALSE(FileTimeToSystemTime(&ft, nullptr));
    EXPECT_EQ(_mktime64(nullptr), -1);
}
