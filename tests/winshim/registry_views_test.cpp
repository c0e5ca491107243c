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

namespace {

// Where a key made through the API with the given view flags lands, on a machine of the
// given bitness: the key that holds it in the native view.
struct ViewCase {
    bool machine64;
    HKEY root;
    const char* subKey;
    REGSAM flags;
    const char* landsIn;
};

bool ExistsNatively(HKEY root, const char* subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace

TEST(RegistryViews, ThirtyTwoBitKeysLandInWow6432NodeExceptSharedOnes) {
    const char* vendor = "SOFTWARE\\Vendor\\Tool";
    const char* wowVendor = "SOFTWARE\\WOW6432Node\\Vendor\\Tool";
    const ViewCase cases[] = {
        {true, HKEY_LOCAL_MACHINE, vendor, 0, wowVendor},
        {true, HKEY_LOCAL_MACHINE, vendor, KEY_WOW64_32KEY, wowVendor},
        {true, HKEY_LOCAL_MACHINE, vendor, KEY_WOW64_64KEY, vendor},
        {true, HKEY_LOCAL_MACHINE, "software\\wow6432node\\Vendor", 0,
         "software\\wow6432node\\Vendor"},
        {true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Policies\\Microsoft\\Edge", 0,
         "SOFTWARE\\Policies\\Microsoft\\Edge"},
        {true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\a.exe",
         KEY_WOW64_32KEY, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\a.exe"},
        // Beside a shared key, and a name that only starts like one: redirected.
        {true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A", 0,
         "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A"},
        {true, HKEY_LOCAL_MACHINE, "SOFTWARE\\PoliciesX", 0, "SOFTWARE\\WOW6432Node\\PoliciesX"},
        // Classes: shared but for the COM registrations.
        {true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\alert", 0, "SOFTWARE\\Classes\\alert"},
        {true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{1}", 0,
         "SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}"},
        {true, HKEY_CLASSES_ROOT, "Interface\\{2}", 0, "Wow6432Node\\Interface\\{2}"},
        {true, HKEY_CURRENT_USER, "Software\\Vendor", 0, "Software\\Vendor"},
        {true, HKEY_LOCAL_MACHINE, "SYSTEM\\Vendor", 0, "SYSTEM\\Vendor"},
        // A 32-bit Windows has one view whatever the flags.
        {false, HKEY_LOCAL_MACHINE, vendor, 0, vendor},
        {false, HKEY_LOCAL_MACHINE, vendor, KEY_WOW64_32KEY, vendor},
    };
    for (const ViewCase& c : cases) {
        TempMachine machine;
        if (c.machine64)
            SetArchitecture("AMD64");
        const std::string what = std::string(c.subKey) + " flags " + std::to_string(c.flags) +
                                 (c.machine64 ? " on 64-bit" : " on 32-bit");
        HKEY key = CreateKey(c.root, c.subKey, KEY_WRITE | c.flags);
        ASSERT_NE(key, nullptr) << what;
        ASSERT_EQ(SetValue(key, "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS) << what;
        RegCloseKey(key);
        EXPECT_TRUE(ExistsNatively(c.root, c.landsIn)) << what;
        if (std::string(c.landsIn) != c.subKey) {
            EXPECT_FALSE(ExistsNatively(c.root, c.subKey)) << what;
        }
        // The same flags open it again and find the value.
        HKEY again = nullptr;
        ASSERT_EQ(RegOpenKeyExA(c.root, c.subKey, 0, KEY_READ | c.flags, &again), ERROR_SUCCESS)
            << what;
        EXPECT_EQ(QueryValue(again, "v").data, std::string("x\0", 2)) << what;
        RegCloseKey(again);
    }
}
