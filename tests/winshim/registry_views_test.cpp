// The machine's bitness (IsWow64Process) and the two registry views a 32-bit program sees
// on a 64-bit Windows.
#include "registry_calls.h"
#include "temp_machine.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

namespace {

const char kEnvironment[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

void SetArchitecture(const char* arch) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, kEnvironment);
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(SetValue(key, "PROCESSOR_ARCHITECTURE", REG_SZ, std::string(arch) + '\0'),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

} // namespace

TEST(MachineBits, IsWow64ProcessFollowsTheProcessorArchitecture) {
    const struct {
        const char* arch; // nullptr: no value
        BOOL wow64;
    } cases[] = {{nullptr, FALSE}, {"x86", FALSE}, {"AMD64", TRUE}, {"ARM64", TRUE}};
    for (const auto& c : cases) {
        TempMachine machine;
        if (c.arch)
            SetArchitecture(c.arch);
        BOOL wow64 = 2;
        ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64)) << (c.arch ? c.arch : "none");
        EXPECT_EQ(wow64, c.wow64) << (c.arch ? c.arch : "none");
    }
    BOOL wow64 = FALSE;
    EXPECT_FALSE(IsWow64Process(reinterpret_cast<HANDLE>(0x7777), &wow64));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}
