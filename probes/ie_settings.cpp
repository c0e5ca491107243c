#include "ie_settings.h"

#include "registry.h"
#include "user_hive.h"

#include <string>

const char kPortalDomain[] = "ebid.quelda.com";

namespace {
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char kIEPolicyMain[] = "SOFTWARE\\Policies\\Microsoft\\Internet Explorer\\Main";
const char kSyncMode5[] = "SyncMode5";
const char kSecureProtocols[] = "SecureProtocols";
const char kMaxWebSocket[] = "MaximumWebSocketConnections";

const DWORD kSyncEveryVisit = 3;
const DWORD kTrustedZone = 2;
const DWORD kWebSocketLimit = 100;
const DWORD kSsl2 = 0x20, kSsl3 = 0x80, kTls10 = 0x200, kTls11 = 0x800, kTls12 = 0x2000;
const DWORD kAllProtocols = kSsl2 | kSsl3 | kTls10 | kTls11 | kTls12; // 10912

std::string TrustKey() {
    return std::string(kInternetSettings) + "\\ZoneMap\\Domains\\" + kPortalDomain;
}

// 0 means nothing was written (no number, and no text value to fall back on): a failure.
int WriteResult(int rc) {
    if (rc < 0)
        return rc;
    return rc == 0 ? -1 : 1;
}

int WriteDword(HKEY root, const std::string& key, const char* name, DWORD number) {
    return WriteResult(RegSetDwordValue(root, key, name, &number));
}

int CheckEquals(HKEY root, const char* key, const char* name, DWORD expected) {
    DWORD value = 0;
    int rc = RegGetDwordValue(root, key, name, value);
    if (rc < 0)
        return rc;
    return value == expected ? 1 : -2;
}

std::string Hex(DWORD value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

IESettingState DwordState(HKEY root, const char* rootName, const char* key, const char* name,
                          const std::string& expected, std::string (*show)(DWORD),
                          bool (*accept)(DWORD)) {
    IESettingState state;
    state.name = name;
    state.where = std::string(rootName) + "\\" + key + "\\" + name;
    state.expected = expected;
    DWORD value = 0;
    state.present = RegGetDwordValue(root, key, name, value) >= 0;
    if (state.present) {
        state.found = show(value);
        state.ok = accept(value);
    }
    return state;
}

std::string Decimal(DWORD value) {
    return std::to_string(value);
}
} // namespace

std::vector<IESettingState> ReadIESettingStates() {
    const UserHive user = OpenUserHive();
    std::vector<IESettingState> states;
    states.push_back(DwordState(user.root(), user.rootName().c_str(), kInternetSettings, kSyncMode5,
                                Decimal(kSyncEveryVisit), Decimal,
                                [](DWORD v) { return v == kSyncEveryVisit; }));

    IESettingState trust;
    trust.name = "ZoneMap";
    trust.where = user.rootName() + "\\" + TrustKey();
    trust.expected = "present";
    trust.present = CheckIETrustCfg() >= 0;
    trust.found = trust.present ? "present" : "absent";
    trust.ok = trust.present;
    states.push_back(trust);

    states.push_back(DwordState(user.root(), user.rootName().c_str(), kInternetSettings,
                                kSecureProtocols, Hex(kAllProtocols), Hex,
                                [](DWORD v) { return (v & kAllProtocols) == kAllProtocols; }));
    states.push_back(DwordState(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kIEPolicyMain,
                                kMaxWebSocket, Decimal(kWebSocketLimit), Decimal,
                                [](DWORD v) { return v == kWebSocketLimit; }));
    return states;
}

int CheckIESaveVerCfg() {
    return CheckEquals(OpenUserHive().root(), kInternetSettings, kSyncMode5, kSyncEveryVisit);
}

int CheckIETrustCfg() {
    HKEY key = nullptr;
    const UserHive user = OpenUserHive();
    if (RegOpenKeyExA(user.root(), TrustKey().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    RegCloseKey(key);
    return 1;
}

int CheckIESslCfg() {
    DWORD value = 0;
    int rc = RegGetDwordValue(OpenUserHive().root(), kInternetSettings, kSecureProtocols, value);
    if (rc < 0)
        return rc;
    const DWORD bits[] = {kSsl2, kSsl3, kTls10, kTls11, kTls12};
    for (int i = 0; i < 5; ++i)
        if ((value & bits[i]) == 0)
            return -(i + 1);
    return 1;
}

int CheckIEMaxConCfg() {
    return CheckEquals(HKEY_LOCAL_MACHINE, kIEPolicyMain, kMaxWebSocket, kWebSocketLimit);
}

int SetIESaveVerCfg() {
    const UserHive user = OpenUserHive();
    DWORD value = 0;
    int rc = RegGetDwordValue(user.root(), kInternetSettings, kSyncMode5, value);
    // A missing key or a value of a foreign type is left alone.
    if (rc < 0 && rc != -2)
        return rc;
    return WriteDword(user.root(), kInternetSettings, kSyncMode5, kSyncEveryVisit);
}

int SetIETrustCfg() {
    return WriteDword(OpenUserHive().root(), TrustKey(), "https", kTrustedZone);
}

int SetIESslCfg() {
    return WriteDword(OpenUserHive().root(), kInternetSettings, kSecureProtocols, kAllProtocols);
}

int SetIEMaxConCfg() {
    return WriteDword(HKEY_LOCAL_MACHINE, kIEPolicyMain, kMaxWebSocket, kWebSocketLimit);
}
