// Whose HKEY_CURRENT_USER the probes use. Under Wine (and over the stand-in's default
// machine) the program's user owns the desktop; over the stand-in, accounts.ini also gives a
// machine where an administrator elevated the program for a logged-on standard user, and
// one without a desktop.
#include "probe_test_env.h"
#include "probes/edge_policy.h"
#include "probes/ie_settings.h"
#include "probes/registry.h"
#include "probes/user_hive.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace probetest;

namespace {

const char kInetKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

TEST(UserHive, TheProgramsOwnUserOwnsTheDesktopOrThereIsNone) {
    TempMachine machine;
    const UserHive user = OpenUserHive(true);
    EXPECT_TRUE(user.owner() == HiveOwner::ProgramUser || user.owner() == HiveOwner::NoDesktop)
        << static_cast<int>(user.owner());
    EXPECT_EQ(user.root(), HKEY_CURRENT_USER);
    EXPECT_EQ(user.rootName(), "HKEY_CURRENT_USER");
    EXPECT_FALSE(user.account().empty());
#ifndef _WIN32
    EXPECT_EQ(user.owner(), HiveOwner::ProgramUser);
    EXPECT_EQ(user.account(), "QUELDA-PC\\user");
#endif
}

#ifndef _WIN32
const char kAdminSid[] = "S-1-5-21-1000-1000-1000-500";
const char kBidderSid[] = "S-1-5-21-1000-1000-1000-1001";

class TwoAccounts : public ::testing::Test {
  protected:
    void WriteAccounts(const std::string& desktopLine) {
        std::ofstream(machine.dir() / "accounts.ini")
            << "; an administrator elevated the program\n"
            << "program = " << kAdminSid << " QUELDA-PC\\Administrator\n"
            << desktopLine << "\n";
    }
    // The administrator's hive (the program's HKEY_CURRENT_USER) has every setting right.
    void AdminSettingsInOrder() {
        PutDword(HKEY_CURRENT_USER, kInetKey, "SyncMode5", 3);
        PutDword(HKEY_CURRENT_USER, kInetKey, "SecureProtocols", 0x2AA0);
        MakeKey(HKEY_CURRENT_USER, std::string(kInetKey) + "\\ZoneMap\\Domains\\" + kPortalDomain);
    }
    TempMachine machine;
};

TEST_F(TwoAccounts, TheLoggedOnUsersHiveIsCheckedAndRepairedNotTheAdministrators) {
    WriteAccounts(std::string("desktop = ") + kBidderSid + " QUELDA-PC\\投标人");
    AdminSettingsInOrder();
    const std::string bidderInet = std::string(kBidderSid) + "\\" + kInetKey;
    PutDword(HKEY_USERS, bidderInet, "SecureProtocols", 0x0A80);

    const UserHive user = OpenUserHive(true);
    EXPECT_EQ(user.owner(), HiveOwner::DesktopUser);
    EXPECT_EQ(user.rootName(), std::string("HKEY_USERS\\") + kBidderSid);
    EXPECT_EQ(user.account(), "QUELDA-PC\\投标人");
    EXPECT_NE(user.root(), HKEY_CURRENT_USER);
    EXPECT_EQ(OpenUserHive().account(), ""); // not looked up unless asked for

    // The administrator's settings would pass; the bidder's do not.
    EXPECT_EQ(CheckIESaveVerCfg(), -2);
    EXPECT_EQ(CheckIETrustCfg(), -1);
    EXPECT_EQ(CheckIESslCfg(), -1);
    const std::vector<IESettingState> states = ReadIESettingStates();
    ASSERT_EQ(states.size(), 4u);
    EXPECT_EQ(states[2].where,
              std::string("HKEY_USERS\\") + kBidderSid + "\\" + kInetKey + "\\SecureProtocols");
    EXPECT_EQ(states[2].found, "0x00000A80");

    EXPECT_EQ(SetIESaveVerCfg(), 1);
    EXPECT_EQ(SetIETrustCfg(), 1);
    EXPECT_EQ(SetIESslCfg(), 1);
    EXPECT_EQ(CheckIESaveVerCfg(), 1);
    EXPECT_EQ(CheckIETrustCfg(), 1);
    EXPECT_EQ(CheckIESslCfg(), 1);
    EXPECT_EQ(ReadValue(HKEY_USERS, bidderInet, "SecureProtocols").data, DwordBytes(10912));
    EXPECT_EQ(ReadValue(HKEY_USERS, bidderInet, "SyncMode5").data, DwordBytes(3));
    // The administrator's hive is HKEY_USERS\<its SID> and kept as it was.
    const std::string adminInet = std::string(kAdminSid) + "\\" + kInetKey;
    EXPECT_EQ(ReadValue(HKEY_USERS, adminInet, "SecureProtocols").data, DwordBytes(0x2AA0));
}

TEST_F(TwoAccounts, AnEmptyHiveOfTheLoggedOnUserIsStillTheirs) {
    WriteAccounts(std::string("desktop = ") + kBidderSid + " QUELDA-PC\\bidder");
    AdminSettingsInOrder();
    EXPECT_EQ(CheckIESaveVerCfg(), -3); // no Internet Settings key in the bidder's hive
    EXPECT_EQ(SetIESslCfg(), 1);
    EXPECT_TRUE(KeyExists(HKEY_USERS, std::string(kBidderSid) + "\\" + kInetKey));
}

TEST_F(TwoAccounts, WithoutADesktopTheProgramsOwnUserIsUsed) {
    WriteAccounts("desktop =");
    AdminSettingsInOrder();
    const UserHive user = OpenUserHive(true);
    EXPECT_EQ(user.owner(), HiveOwner::NoDesktop);
    EXPECT_EQ(user.root(), HKEY_CURRENT_USER);
    EXPECT_EQ(user.account(), "QUELDA-PC\\Administrator");
    EXPECT_EQ(CheckIESslCfg(), 1);
}

TEST_F(TwoAccounts, AnUnreadableAccountsFileFallsBackToTheProgramsUser) {
    std::ofstream(machine.dir() / "accounts.ini") << "program = not-a-sid someone\n";
    const UserHive user = OpenUserHive(true);
    EXPECT_EQ(user.owner(), HiveOwner::NoDesktop);
    EXPECT_EQ(user.root(), HKEY_CURRENT_USER);
}

TEST_F(TwoAccounts, EdgePoliciesOfTheLoggedOnUserAreRead) {
    WriteAccounts(std::string("desktop = ") + kBidderSid + " QUELDA-PC\\bidder");
    PutString(HKEY_CURRENT_USER, kEdgePolicyKey, "InternetExplorerIntegrationSiteList",
              "https://admin.example/list.xml");
    PutString(HKEY_USERS, std::string(kBidderSid) + "\\" + kEdgePolicyKey,
              "InternetExplorerIntegrationSiteList", "https://it.example/sites.xml");
    const IEModePolicy policy = ReadIEModePolicy();
    EXPECT_EQ(policy.siteList, "https://it.example/sites.xml");
    EXPECT_EQ(policy.siteListWhere, std::string("HKEY_USERS\\") + kBidderSid + "\\" +
                                        kEdgePolicyKey + "\\InternetExplorerIntegrationSiteList");
}

TEST_F(TwoAccounts, ADocumentPathUnderHkcuNamesTheLoggedOnUsersKey) {
    WriteAccounts(std::string("desktop = ") + kBidderSid + " QUELDA-PC\\bidder");
    PutString(HKEY_USERS, std::string(kBidderSid) + "\\Software\\Quelda\\BidTool", "InstallPath",
              "C:\\Users\\bidder\\BidTool");
    std::string value;
    EXPECT_EQ(RegGetStrValue(RegRoot("HKEY_CURRENT_USER").key(), "Software\\Quelda\\BidTool",
                             "InstallPath", value),
              0);
    EXPECT_EQ(value, "C:\\Users\\bidder\\BidTool");
    EXPECT_EQ(RegRoot("HKEY_LOCAL_MACHINE").key(), HKEY_LOCAL_MACHINE);
}
#endif

} // namespace
