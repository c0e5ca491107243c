// Folders only administrators can change: what happens to one that someone else made first.
#include "probe_test_env.h"
#include "probes/admin_folder.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <aclapi.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// A Windows path of the scratch folder (the test runs on the real file system there).
std::string WindowsPath(const fs::path& p) {
    return p.u8string();
}

bool OwnedByAdmins(const fs::path& p) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(p.wstring().c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const bool admins = owner && IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(sd);
    return admins;
}

TEST(AdminFolder, AFolderSomeoneElseOwnsIsMovedAsideAndMadeAnew) {
    TempMachine machine;
    const fs::path folder = machine.dir() / "Quelda";
    ASSERT_TRUE(CreateDirectoryW(folder.wstring().c_str(), nullptr));
    std::ofstream(folder / "planted.dll") << "x";
    if (OwnedByAdmins(folder) || AdminOwned(WindowsPath(folder)))
        GTEST_SKIP() << "a folder this account makes is its own here (Administrators', or, "
                        "under Wine, the account's): no other owner to test with";

    ASSERT_EQ(MakeAdminOnlyFolder(WindowsPath(folder)), 1);
    EXPECT_TRUE(AdminOwned(WindowsPath(folder)));
    EXPECT_FALSE(fs::exists(folder / "planted.dll")) << "a fresh folder, not the old one";
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(machine.dir()))
        if (entry.path().filename().u8string().rfind("Quelda.untrusted-", 0) == 0) {
            ++aside;
            EXPECT_TRUE(fs::exists(entry.path() / "planted.dll"));
        }
    EXPECT_EQ(aside, 1);
    // Ours from now on: used as it is.
    ASSERT_EQ(MakeAdminOnlyFolder(WindowsPath(folder)), 1);
    std::ofstream(folder / "kept") << "x";
    ASSERT_EQ(MakeAdminOnlyFolder(WindowsPath(folder)), 1);
    EXPECT_TRUE(fs::exists(folder / "kept"));
}
#else
TEST(AdminFolder, AFolderOfAnotherUserIsNeverTrustedOverTheStandIn) {
    TempMachine machine;
    const std::string windowsFolder = "C:\\ProgramData\\Quelda";
    const fs::path folder = machine.Native(windowsFolder);
    fs::create_directories(folder);
    if (::geteuid() != 0 || ::chown(folder.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a folder to another user needs root";
    EXPECT_EQ(MakeAdminOnlyFolder(windowsFolder), -2);
    EXPECT_FALSE(AdminOwned(windowsFolder));
    ASSERT_EQ(::chown(folder.c_str(), ::geteuid(), ::getegid()), 0);
    fs::permissions(folder, fs::perms::all);
    EXPECT_FALSE(AdminOwned(windowsFolder)) << "writable by others";
    EXPECT_EQ(MakeAdminOnlyFolder(windowsFolder), 1);
    EXPECT_TRUE(AdminOwned(windowsFolder));
}
#endif

} // namespace
