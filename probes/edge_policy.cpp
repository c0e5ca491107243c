#include "edge_policy.h"

#include "iemode_site_list.h"
#include "registry.h"
#include "user_hive.h"

#include "common/text/ascii.h"

#include <cstring>

const char kEdgePolicyKey[] = "SOFTWARE\\Policies\\Microsoft\\Edge";

namespace {
const char kLevel[] = "InternetExplorerIntegrationLevel";
const char kSiteList[] = "InternetExplorerIntegrationSiteList";
const char kCloudSiteList[] = "InternetExplorerIntegrationCloudSiteList";
const char kDelayNavigations[] = "DelayNavigationsForInitialSiteListDownload";
const char kIEEnterpriseMode[] =
    "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main\\EnterpriseMode";
const char kIESiteList[] = "SiteList";

// Policies are written for the 64-bit programs (Edge) as well; SOFTWARE\Policies is shared
// between the views, the flag only makes that explicit.
const REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;
const REGSAM kWriteAccess = KEY_WRITE | KEY_QUERY_VALUE | KEY_WOW64_64KEY;

struct Root {
    HKEY key;
    std::string name;
};

// A value of the key: its type and up to 1 KB of data. False when it cannot be read.
bool ReadValue(HKEY root, const char* subKey, const char* name, DWORD& type, std::string& data) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, kReadAccess, &key) != ERROR_SUCCESS)
        return false;
    char buffer[1024] = {};
    DWORD size = sizeof buffer;
    const LSTATUS rc =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    data.assign(buffer, size);
    return true;
}

bool ReadText(HKEY root, const char* subKey, const char* name, std::string& text) {
    DWORD type = REG_NONE;
    std::string data;
    if (!ReadValue(root, subKey, name, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    text = data.substr(0, data.find('\0'));
    return !text.empty();
}

bool ReadNumber(HKEY root, const char* subKey, const char* name, unsigned long& number) {
    DWORD type = REG_NONE;
    std::string data;
    if (!ReadValue(root, subKey, name, type, data) || type != REG_DWORD || data.size() != 4)
        return false;
    number = static_cast<unsigned char>(data[0]) | static_cast<unsigned char>(data[1]) << 8 |
             static_cast<unsigned char>(data[2]) << 16 |
             static_cast<unsigned long>(static_cast<unsigned char>(data[3])) << 24;
    return true;
}

std::string Where(const Root& root, const char* subKey, const char* name) {
    return root.name + "\\" + subKey + "\\" + name;
}

void NoteOrganisation(IEModePolicy& policy, const std::string& list, const std::string& where) {
    if (policy.organisationList.empty()) {
        policy.organisationList = list;
        policy.organisationWhere = where;
    }
}
} // namespace

IEModePolicy ReadIEModePolicy() {
    // A machine policy wins over the policy of the user who owns the desktop.
    const UserHive user = OpenUserHive();
    const Root roots[] = {{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
                          {user.root(), user.rootName()}};
    IEModePolicy policy;
    for (const Root& root : roots) {
        if (!policy.levelSet)
            policy.levelSet = ReadNumber(root.key, kEdgePolicyKey, kLevel, policy.level);
        std::string text;
        if (policy.siteList.empty() && ReadText(root.key, kEdgePolicyKey, kSiteList, text)) {
            policy.siteList = text;
            policy.siteListWhere = Where(root, kEdgePolicyKey, kSiteList);
        }
    }
    if (!policy.siteList.empty() && !ascii::EqualIgnoringCase(policy.siteList, kSiteListUrl))
        NoteOrganisation(policy, policy.siteList, policy.siteListWhere);
    for (const Root& root : roots) {
        std::string text;
        if (ReadText(root.key, kEdgePolicyKey, kCloudSiteList, text))
            NoteOrganisation(policy, text, Where(root, kEdgePolicyKey, kCloudSiteList));
        if (ReadText(root.key, kIEEnterpriseMode, kIESiteList, text) &&
            !ascii::EqualIgnoringCase(text, kSiteListUrl))
            NoteOrganisation(policy, text, Where(root, kIEEnterpriseMode, kIESiteList));
    }
    return policy;
}

int SetIEModePolicies(bool& changed) {
    changed = false;
    if (!ReadIEModePolicy().organisationList.empty())
        return 1;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEdgePolicyKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        kWriteAccess, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return -2;
    int result = 1;
    auto putNumber = [&](const char* name) {
        unsigned long found = 0;
        if (ReadNumber(HKEY_LOCAL_MACHINE, kEdgePolicyKey, name, found) && found == 1)
            return;
        const DWORD one = 1;
        if (RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                           sizeof one) != ERROR_SUCCESS)
            result = -1;
        else
            changed = true;
    };
    putNumber(kLevel);
    std::string list;
    if (!ReadText(HKEY_LOCAL_MACHINE, kEdgePolicyKey, kSiteList, list) || list != kSiteListUrl) {
        if (RegSetValueExA(key, kSiteList, 0, REG_SZ, reinterpret_cast<const BYTE*>(kSiteListUrl),
                           static_cast<DWORD>(std::strlen(kSiteListUrl) + 1)) != ERROR_SUCCESS)
            result = -1;
        else
            changed = true;
    }
    putNumber(kDelayNavigations);
    RegCloseKey(key);
    return result;
}
