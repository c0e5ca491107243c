// Which Windows retires IE, Edge and its IE mode policies, our site list and its hosts.
#include "common/text/host_syntax.h"
#include "pe_fixture.h"
#include "probe_test_env.h"
#include "probes/edge_install.h"
#include "probes/edge_policy.h"
#include "probes/iemode_decision.h"
#include "probes/iemode_site_list.h"
#include "probes/windows_edition.h"
#include "temp_machine.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#endif

using namespace probetest;
namespace fs = std::filesystem;

namespace {
const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kIEEnterpriseMode[] =
    "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main\\EnterpriseMode";
const char kEdgeExe[] = "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe";

// Written as a 64-bit program writes, whatever this process is.
void Put64(HKEY root, const std::string& subKey, const char* name, DWORD type, const void* data,
           DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
}
void PutText64(HKEY root, const std::string& subKey, const char* name, const std::string& text) {
    Put64(root, subKey, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
void PutNumber64(HKEY root, const std::string& subKey, const char* name, DWORD value) {
    Put64(root, subKey, name, REG_DWORD, &value, sizeof value);
}

std::string FileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// These tests write machine policies and C:\ProgramData, so on Windows they run only in
// Wine's throw-away prefix.
class IEMode : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        if (!RunningUnderWine())
            GTEST_SKIP() << "would change this computer's Edge policies";
#endif
        Clear();
    }
    void TearDown() override {
        Clear();
    }
    // Every test starts from a machine without these keys, Edge's program and our site list.
    void Clear() {
        std::error_code ec;
        fs::remove(machine.Native(kSiteListPath), ec);
        fs::remove(machine.Native(kEdgeExe), ec);
#ifdef _WIN32
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            for (const char* subKey : {kEdgePolicyKey, kIEEnterpriseMode, kEdgeAppPathsKey})
                EmptyKey64(root, subKey);
#else
        fs::remove(machine.dir() / "registry.reg", ec);
#endif
    }
#ifdef _WIN32
    static void EmptyKey64(HKEY root, const char* subKey) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != 0)
            return;
        RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
    }
#endif
    TempMachine machine;
};

struct WindowsCase {
    const char* name;
    const char* build;
    const char* edition;
    const char* installation;
    bool retired;
};
const WindowsCase kWindows[] = {
    {"7", "7601", "Professional", "Client", false},
    {"8.1", "9600", "Core", "Client", false},
    {"10 client", "19045", "Professional", "Client", true},
    {"10 LTSC", "17763", "EnterpriseS", "Client", false},
    {"Server 2019", "17763", "ServerStandard", "Server", false},
    {"11", "22631", "Core", "Client", true},
};

#ifdef _WIN32
// Empty when `path` is owned by Administrators and has a protected DACL in which only
// SYSTEM and Administrators may write; otherwise what is wrong.
std::string OthersMayChange(const fs::path& path, bool /*folder*/) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD got = GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &sd);
    if (got != ERROR_SUCCESS)
        return "GetNamedSecurityInfoW failed: " + std::to_string(got);
    BYTE system[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof system;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
    size = sizeof admins;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    std::string wrong;
    if (!owner || !EqualSid(owner, admins))
        wrong += "owner is not Administrators; ";
    if (!(control & SE_DACL_PROTECTED))
        wrong += "DACL not protected; ";
    const DWORD writes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                         FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                         WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    int fullControl = 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
            ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        PSID sid = &ace->SidStart;
        if (EqualSid(sid, system) || EqualSid(sid, admins))
            fullControl += (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
        else if (ace->Mask & writes) {
            LPWSTR text = nullptr;
            ConvertSidToStringSidW(sid, &text);
            wrong += "write access for " + fs::path(text ? text : L"?").u8string() + "; ";
            LocalFree(text);
        }
    }
    if (!dacl || fullControl < 2)
        wrong += "SYSTEM and Administrators lack full control; ";
    LocalFree(sd);
    return wrong;
}

// Opens `path` to everyone, as a folder and file that a standard user made would be.
void OpenToEveryone(const fs::path& path) {
    EXPECT_TRUE(SetDacl(path, L"D:P(A;OICI;FA;;;WD)"));
}

// Whether this Windows keeps the DACL set on a file. Wine accepts SetSecurityInfo but may
// keep nothing, and then reads the DACL back from the Unix mode.
bool KeepsFileSecurity(const fs::path& scratch) {
    std::error_code ec;
    fs::create_directories(scratch, ec);
    PSECURITY_DESCRIPTOR sd = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const bool kept =
        SetDacl(scratch, L"D:P(A;;FA;;;SY)") &&
        GetNamedSecurityInfoW(scratch.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &sd) == ERROR_SUCCESS &&
        GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED);
    LocalFree(sd);
    fs::remove(scratch, ec);
    return kept;
}
#else
std::string OthersMayChange(const fs::path& path, bool folder) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "missing";
    const mode_t want = folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    return (st.st_mode & (S_IFMT | 07777)) == want ? std::string()
                                                   : "mode " + std::to_string(st.st_mode);
}

bool KeepsFileSecurity(const fs::path&) {
    return true;
}

void OpenToEveryone(const fs::path& path) {
    ASSERT_EQ(::chmod(path.c_str(), fs::is_directory(path) ? 0777 : 0666), 0);
}
#endif

enum class Policy { None, OurListCurrent, OurListStale, Organisation };

} // namespace

TEST_F(IEMode, DecisionFollowsWindowsEdgeAndPolicies) {
    const std::vector<std::string> hosts = {"ebid.quelda.com", "intra.example:8080"};
    const std::pair<Policy, IEModeState> kPolicies[] = {
        {Policy::None, IEModeState::PolicyOff},
        {Policy::OurListCurrent, IEModeState::Ready},
        {Policy::OurListStale, IEModeState::SiteListIncomplete},
        {Policy::Organisation, IEModeState::OrganisationList},
    };
    for (const WindowsCase& windows : kWindows) {
        for (bool edge : {false, true}) {
            for (const auto& [policy, readyState] : kPolicies) {
                Clear();
                const std::string what = std::string("Windows ") + windows.name +
                                         (edge ? ", Edge, policy " : ", no Edge, policy ") +
                                         std::to_string(static_cast<int>(policy));
                PutText64(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentBuildNumber", windows.build);
                PutText64(HKEY_LOCAL_MACHINE, kCurrentVersion, "EditionID", windows.edition);
                PutText64(HKEY_LOCAL_MACHINE, kCurrentVersion, "InstallationType",
                          windows.installation);
                PutText64(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", "Windows 10 Pro");
                if (edge) {
                    WritePe(machine.Native(kEdgeExe), "120.0.2210.91");
                    PutText64(HKEY_LOCAL_MACHINE, kEdgeAppPathsKey, "", kEdgeExe);
                }
                if (policy == Policy::OurListCurrent || policy == Policy::OurListStale) {
                    PutNumber64(HKEY_LOCAL_MACHINE, kEdgePolicyKey,
                                "InternetExplorerIntegrationLevel", 1);
                    // A user's policy counts as well as the machine's.
                    PutText64(HKEY_CURRENT_USER, kEdgePolicyKey,
                              "InternetExplorerIntegrationSiteList", kSiteListUrl);
                    std::vector<std::string> written = hosts;
                    if (policy == Policy::OurListStale)
                        written.pop_back();
                    ASSERT_EQ(WriteSiteList(kSiteListPath, written), 1) << what;
                } else if (policy == Policy::Organisation) {
                    PutText64(HKEY_CURRENT_USER, kIEEnterpriseMode, "SiteList",
                              "https://intranet.example/sites.xml");
                }

                const WindowsEdition read = ReadWindowsEdition();
                const EdgeInstall edgeFound = ReadEdgeInstall();
                const IEModePolicy policyRead = ReadIEModePolicy();
                SiteList list;
                const bool holds = ReadSiteList(kSiteListPath, list) && SiteListHolds(list, hosts);
                const IEModeState expected = !windows.retired ? IEModeState::NotNeeded
                                             : !edge          ? IEModeState::EdgeMissing
                                                              : readyState;
                EXPECT_EQ(IERetired(read), windows.retired) << what;
                EXPECT_EQ(edgeFound.found, edge) << what;
                EXPECT_EQ(edgeFound.version, edge ? "120.0.2210.91" : "") << what;
                EXPECT_EQ(DecideIEMode(IERetired(read), edgeFound.found, policyRead, holds),
                          expected)
                    << what;
            }
        }
    }
}

TEST_F(IEMode, EdgeCountsWhenItsProgramExistsWithOrWithoutVersion) {
    PutText64(HKEY_LOCAL_MACHINE, kEdgeAppPathsKey, "", std::string("\"") + kEdgeExe + "\"");
    EXPECT_FALSE(ReadEdgeInstall().found); // registered, but the file is gone
    WriteBytes(machine.Native(kEdgeExe), PeImageWithoutResources());
    const EdgeInstall edge = ReadEdgeInstall();
    EXPECT_TRUE(edge.found);
    EXPECT_EQ(edge.path, kEdgeExe);
    EXPECT_EQ(edge.version, "");
}

TEST_F(IEMode, PolicyRepairWritesOnlyWhatDiffersAndNeverAnOrganisationsList) {
    PutNumber64(HKEY_LOCAL_MACHINE, kEdgePolicyKey, "InternetExplorerIntegrationLevel", 0);
    PutNumber64(HKEY_LOCAL_MACHINE, kEdgePolicyKey, "DelayNavigationsForInitialSiteListDownload",
                1);
    bool changed = false;
    ASSERT_EQ(SetIEModePolicies(changed), 1);
    EXPECT_TRUE(changed);
    IEModePolicy policy = ReadIEModePolicy();
    EXPECT_TRUE(policy.levelSet);
    EXPECT_EQ(policy.level, 1u);
    EXPECT_EQ(policy.siteList, kSiteListUrl);
    EXPECT_EQ(policy.siteListWhere, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Edge\\"
                                    "InternetExplorerIntegrationSiteList");
    EXPECT_TRUE(policy.organisationList.empty());
    ASSERT_EQ(SetIEModePolicies(changed), 1);
    EXPECT_FALSE(changed);

    // An organisation's cloud list: nothing is written, the list is named.
    Clear();
    PutText64(HKEY_LOCAL_MACHINE, kEdgePolicyKey, "InternetExplorerIntegrationCloudSiteList",
              "https://cloud.example/list");
    ASSERT_EQ(SetIEModePolicies(changed), 1);
    EXPECT_FALSE(changed);
    policy = ReadIEModePolicy();
    EXPECT_FALSE(policy.levelSet);
    EXPECT_EQ(policy.organisationList, "https://cloud.example/list");
    EXPECT_EQ(policy.organisationWhere, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Edge\\"
                                        "InternetExplorerIntegrationCloudSiteList");
}

TEST_F(IEMode, SiteListIsWrittenWholeAndItsVersionGrowsOnlyWithItsContent) {
    const fs::path file = machine.Native(kSiteListPath);
    ASSERT_EQ(WriteSiteList(kSiteListPath, {"ebid.quelda.com", "intra.example:8080"}), 1);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(file.c_str()));
    pugi::xml_node root = doc.child("site-list");
    EXPECT_STREQ(root.attribute("version").value(), "1");
    std::vector<std::string> urls;
    for (pugi::xml_node site : root.children("site")) {
        urls.push_back(site.attribute("url").value());
        EXPECT_STREQ(site.child_value("compat-mode"), "Default");
        EXPECT_STREQ(site.child("open-in").attribute("allow-redirect").value(), "true");
        EXPECT_STREQ(site.child_value("open-in"), "IE11");
    }
    EXPECT_EQ(urls, (std::vector<std::string>{"ebid.quelda.com", "intra.example:8080"}));

    const std::string first = FileText(file);
    EXPECT_EQ(WriteSiteList(kSiteListPath, {"ebid.quelda.com", "intra.example:8080"}), 0);
    EXPECT_EQ(FileText(file), first);
    EXPECT_EQ(WriteSiteList(kSiteListPath, {"ebid.quelda.com"}), 1);
    SiteList list;
    ASSERT_TRUE(ReadSiteList(kSiteListPath, list));
    EXPECT_EQ(list.version, 2);
    EXPECT_TRUE(SiteListHolds(list, {"EBID.quelda.com"}));
    EXPECT_FALSE(SiteListHolds(list, {"ebid.quelda.com", "intra.example:8080"}));

    // A folder under the part file's name never blocks the list for good.
    fs::path part = file;
    part += ".part";
    fs::create_directories(part / "blocker");
    EXPECT_EQ(WriteSiteList(kSiteListPath, {"other.example"}), 1);
    ASSERT_TRUE(ReadSiteList(kSiteListPath, list));
    EXPECT_EQ(list.version, 3);
    EXPECT_EQ(list.hosts, std::vector<std::string>{"other.example"});
    EXPECT_FALSE(fs::exists(part));
}

TEST_F(IEMode, TheSiteListIsTrustedOnlyInAFolderAndFileAdministratorsOwn) {
    EXPECT_FALSE(SiteListTrusted(kSiteListPath)) << "no list yet";
    ASSERT_EQ(WriteSiteList(kSiteListPath, {"ebid.quelda.com"}), 1);
    if (!KeepsFileSecurity(machine.Native(kSiteListPath).parent_path().parent_path() / "probe"))
        GTEST_SKIP() << "this Wine reads a file's owner back from the Unix owner";
    EXPECT_TRUE(SiteListTrusted(kSiteListPath));
#ifndef _WIN32
    // Over the stand-in, "administrators only" is this user's, writable by no one else.
    const fs::path file = machine.Native(kSiteListPath);
    fs::permissions(file, fs::perms::others_write, fs::perm_options::add);
    EXPECT_FALSE(SiteListTrusted(kSiteListPath));
    fs::permissions(file, fs::perms::others_write, fs::perm_options::remove);
    fs::permissions(file.parent_path(), fs::perms::group_write, fs::perm_options::add);
    EXPECT_FALSE(SiteListTrusted(kSiteListPath));
    fs::permissions(file.parent_path(), fs::perms::group_write, fs::perm_options::remove);
    EXPECT_TRUE(SiteListTrusted(kSiteListPath));
    // A link in the file's place is never trusted.
    fs::rename(file, machine.dir() / "moved.xml");
    fs::create_symlink(machine.dir() / "moved.xml", file);
    EXPECT_FALSE(SiteListTrusted(kSiteListPath));
#endif
}

TEST_F(IEMode, SiteListFolderAndFileOnlyAdministratorsCanChange) {
    const fs::path file = machine.Native(kSiteListPath);
    const fs::path folder = file.parent_path();
    const std::vector<std::string> hosts = {"ebid.quelda.com"};
#ifndef _WIN32
    // New files get their modes from the code, not from this process's umask.
    struct NoUmask {
        mode_t old = ::umask(0);
        ~NoUmask() { ::umask(old); }
    } noUmask;
#endif
    if (!KeepsFileSecurity(folder.parent_path() / "acl-probe"))
        GTEST_SKIP() << "this Wine keeps no DACL set on a file (it reads one back from the Unix "
                        "mode), so what the repair sets cannot be read back";
    const auto expectSecured = [&](const char* when) {
        EXPECT_EQ(OthersMayChange(folder, true), "") << when;
        EXPECT_EQ(OthersMayChange(file, false), "") << when;
    };
    ASSERT_EQ(WriteSiteList(kSiteListPath, hosts), 1);
    expectSecured("a new folder");
    // Left open by someone before us: taken back, even when the list needs no change.
    OpenToEveryone(folder);
    OpenToEveryone(file);
    ASSERT_EQ(WriteSiteList(kSiteListPath, hosts), 0);
    expectSecured("a folder and list open to everyone");
#ifndef _WIN32
    // A link in the folder's place is removed, not followed.
    const fs::path elsewhere = machine.dir() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::remove_all(folder);
    fs::create_directory_symlink(elsewhere, folder);
    ASSERT_EQ(WriteSiteList(kSiteListPath, hosts), 1);
    EXPECT_FALSE(fs::is_symlink(folder));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    expectSecured("a link in the folder's place");
#endif
}

TEST(SiteHosts, PagesOpenOnlyForListedHosts) {
    const std::vector<std::string> listed = {"ebid.quelda.com", "intra.example:8080", "10.1.2.3",
                                             "cn"};
    const std::pair<const char*, bool> kPages[] = {
        {"http://ebid.quelda.com/bid?x=1", true},
        {"HTTPS://EBID.Quelda.COM:8443/", true},
        {"https://www.ebid.quelda.com/", true},
        {"http://intra.example:8080/a", true},
        {"http://sub.intra.example:8080/a", true},
        {"http://intra.example/a", false}, // port listed, another one used
        {"https://intra.example:8081/", false},
        {"http://evilebid.quelda.com/", false}, // not a sub-domain
        {"http://ebid.quelda.com.evil.example/", false},
        {"http://ebid.quelda.com@evil.example/", false},
        {"http://evil.example\\@ebid.quelda.com/", false},
        {"http://evil.example#@ebid.quelda.com/", false},
        {"http://ebid.quelda.com:99999/", false},
        {"http://%65bid.quelda.com/", false},
        {"ftp://ebid.quelda.com/", false},
        {"http:///", false},
        // An address matches itself only, never as a parent domain.
        {"http://10.1.2.3/", true},
        {"http://evil.10.1.2.3/", false},
        {"http://x.cn/", false}, // a single label listed (an old list) is no parent domain
        {"http://cn/", true},
    };
    for (const auto& [page, allowed] : kPages)
        EXPECT_EQ(PageHostListed(page, listed), allowed) << page;

    const std::pair<const char*, bool> kHosts[] = {
        {"ebid.quelda.com", true}, {"intra.example:8080", true},
        {"10.1.2.3", true},        {"http://x.example", false},
        {"x.example/path", false}, {"*.x.example", false},
        {"x.example:0", false},    {"x.example:port", false},
        {"x .example", false},     {"", false},
        {"x..example", false},     {"cn", false},
        {"localhost:8080", false},
    };
    for (const auto& [host, valid] : kHosts)
        EXPECT_EQ(SiteHostProblem(host).empty(), valid) << host;
}
