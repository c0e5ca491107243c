// The machine's accounts (accounts.ini): the shell window's process and the program's own,
// their tokens' users, the SIDs' texts and names, and HKEY_CURRENT_USER as the program's
// user's hive.
#include "registry_test_util.h"
#include "temp_machine.h"

#include "machine_accounts.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <unistd.h>
#include <vector>

namespace {

const char kAdmin[] = "S-1-5-21-1000-2000-3000-500";
const char kBidder[] = "S-1-5-21-1000-2000-3000-1001";

std::vector<BYTE> TokenUserBytes(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(size);
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), size, &size));
    EXPECT_TRUE(CloseHandle(token));
    return buffer;
}

std::string SidOf(const std::vector<BYTE>& tokenUser) {
    if (tokenUser.empty())
        return "<no token>";
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid,
                                &text))
        return "<no text>";
    std::string narrow;
    for (const WCHAR* c = text; *c; ++c)
        narrow += static_cast<char>(*c);
    LocalFree(text);
    return narrow;
}

// The user of the process that owns the shell window, as text.
std::string DesktopSid() {
    HWND shell = GetShellWindow();
    if (!shell)
        return "<no desktop>";
    DWORD pid = 0;
    EXPECT_NE(GetWindowThreadProcessId(shell, &pid), 0u);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return "<no process>";
    std::string sid = SidOf(TokenUserBytes(process));
    EXPECT_TRUE(CloseHandle(process));
    return sid;
}

class Accounts : public ::testing::Test {
  protected:
    void Write(const std::string& text) { WriteText(machine.dir() / "accounts.ini", text); }
    TempMachine machine;
};

TEST_F(Accounts, WhoRunsTheProgramAndWhoOwnsTheDesktop) {
    struct Case {
        const char* what;
        std::string file; // "" for no file
        std::string program;
        std::string desktop;
    } cases[] = {
        {"no accounts file: one account", "", winshim::kDefaultSid, winshim::kDefaultSid},
        {"the administrator elevated for the bidder",
         std::string("program = ") + kAdmin + " PC\\admin\ndesktop = " + kBidder + " PC\\bidder\n",
         kAdmin, kBidder},
        {"only the program's user named: it owns the desktop",
         std::string("; comment\nprogram = ") + kAdmin + " PC\\admin\n", kAdmin, kAdmin},
        {"no desktop", std::string("program = ") + kAdmin + " PC\\admin\ndesktop =\n", kAdmin,
         "<no desktop>"},
        {"a line that does not parse", "program = S-1-5-x PC\\admin\n", "<no token>",
         "<no desktop>"},
    };
    for (const Case& c : cases) {
        std::error_code ec;
        std::filesystem::remove(machine.dir() / "accounts.ini", ec);
        if (!c.file.empty())
            Write(c.file);
        EXPECT_EQ(SidOf(TokenUserBytes(GetCurrentProcess())), c.program) << c.what;
        EXPECT_EQ(DesktopSid(), c.desktop) << c.what;
        HANDLE self = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, getpid());
        ASSERT_NE(self, nullptr) << c.what;
        EXPECT_EQ(SidOf(TokenUserBytes(self)), c.program) << c.what;
        CloseHandle(self);
    }
}

TEST_F(Accounts, SidsCompareAndNameTheirAccounts) {
    Write(std::string("program = ") + kAdmin + " QUELDA-PC\\Administrator\ndesktop = " + kBidder +
          " 张三\n");
    std::vector<BYTE> admin = winshim::SidFromString(kAdmin);
    std::vector<BYTE> adminAgain = winshim::SidFromString(kAdmin);
    std::vector<BYTE> bidder = winshim::SidFromString(kBidder);
    EXPECT_TRUE(EqualSid(admin.data(), adminAgain.data()));
    EXPECT_FALSE(EqualSid(admin.data(), bidder.data()));

    WCHAR name[32], domain[32];
    DWORD nameChars = 32, domainChars = 32;
    SID_NAME_USE use{};
    ASSERT_TRUE(
        LookupAccountSidW(nullptr, admin.data(), name, &nameChars, domain, &domainChars, &use));
    EXPECT_EQ(std::wstring(name), L"Administrator");
    EXPECT_EQ(nameChars, 13u);
    EXPECT_EQ(std::wstring(domain), L"QUELDA-PC");
    EXPECT_EQ(use, SidTypeUser);
    nameChars = domainChars = 32;
    ASSERT_TRUE(
        LookupAccountSidW(nullptr, bidder.data(), name, &nameChars, domain, &domainChars, &use));
    EXPECT_EQ(std::wstring(name), L"张三");
    EXPECT_EQ(std::wstring(domain), L"");

    nameChars = 2;
    domainChars = 32;
    EXPECT_FALSE(
        LookupAccountSidW(nullptr, admin.data(), name, &nameChars, domain, &domainChars, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(nameChars, 14u);
    EXPECT_EQ(domainChars, 10u);

    std::vector<BYTE> stranger = winshim::SidFromString("S-1-5-21-9-9-9-1001");
    nameChars = domainChars = 32;
    EXPECT_FALSE(
        LookupAccountSidW(nullptr, stranger.data(), name, &nameChars, domain, &domainChars, &use));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));

    for (const char* bad : {"S-1-5", "S-2-5-21", "S-1-5-21-x", "S-1-5-21--1", "X-1-5-21-1"})
        EXPECT_TRUE(winshim::SidFromString(bad).empty()) << bad;
    bidder[0] = 2; // revision 2 is no SID
    LPWSTR text = nullptr;
    EXPECT_FALSE(ConvertSidToStringSidW(bidder.data(), &text));
}

TEST_F(Accounts, TokensNeedQueryAccessAndOnlyKnownProcessesOpen) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0, &token));
    DWORD size = 0;
    BYTE buffer[64];
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));

    EXPECT_EQ(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(reinterpret_cast<HWND>(0x20020), &pid), 0u);
}

TEST_F(Accounts, HkcuIsTheProgramUsersHiveWhenTheMachineNamesIt) {
    auto putUnder = [](HKEY root, const char* subKey) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const DWORD one = 1;
        EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    };
    putUnder(HKEY_CURRENT_USER, "Software\\One");
    EXPECT_NE(RegFileText(ReadBytes(RegistryFile(machine.dir())))
                  .find("[HKEY_CURRENT_USER\\Software\\One]"),
              std::string::npos);

    Write(std::string("program = ") + kAdmin + " PC\\admin\ndesktop = " + kBidder + " PC\\b\n");
    putUnder(HKEY_CURRENT_USER, "Software\\Two");
    const std::string text = RegFileText(ReadBytes(RegistryFile(machine.dir())));
    EXPECT_NE(text.find(std::string("[HKEY_USERS\\") + kAdmin + "\\Software\\Two]"),
              std::string::npos)
        << text;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\One", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    // Both accounts' hives are loaded, also while registry.reg holds nothing of them.
    EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, kBidder, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "S-1-5-21-9-9-9-1001", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    putUnder(HKEY_USERS, (std::string(kBidder) + "\\Software\\Three").c_str());
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Three", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

} // namespace
