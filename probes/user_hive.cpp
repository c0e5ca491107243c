#include "user_hive.h"

#include "registry.h"
#include "textconv.h"

#include <utility>
#include <vector>

#ifdef _WIN32
#include <sddl.h>
#endif

namespace {

// A token's user: the buffer GetTokenInformation filled, which holds the SID.
struct TokenUserInfo {
    std::vector<BYTE> buffer;
    PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid; }
    bool empty() const { return buffer.empty(); }
};

TokenUserInfo TokenUserOf(HANDLE process, unsigned long& error) {
    TokenUserInfo info;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        error = GetLastError();
        return info;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    info.buffer.resize(size < sizeof(TOKEN_USER) ? sizeof(TOKEN_USER) : size);
    if (!GetTokenInformation(token, TokenUser, info.buffer.data(),
                             static_cast<DWORD>(info.buffer.size()), &size)) {
        error = GetLastError();
        info.buffer.clear();
    }
    CloseHandle(token);
    return info;
}

// The user of the process that owns the shell window; empty with `found` false when there
// is no shell window, with `error` set when its process or token cannot be read.
TokenUserInfo DesktopUser(bool& found, unsigned long& error) {
    found = false;
    HWND shell = GetShellWindow();
    if (!shell)
        return {};
    found = true;
    DWORD processId = 0;
    if (!GetWindowThreadProcessId(shell, &processId) || processId == 0) {
        error = GetLastError();
        return {};
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) {
        error = GetLastError();
        return {};
    }
    TokenUserInfo user = TokenUserOf(process, error);
    CloseHandle(process);
    return user;
}

std::string Utf8(const WCHAR* wide) {
    return WideToUtf8(std::wstring(wide));
}

std::string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return std::string();
    std::string utf8 = Utf8(text);
    LocalFree(text);
    return utf8;
}

// "DOMAIN\name", or the SID's text when the account cannot be looked up.
std::string AccountName(PSID sid) {
    WCHAR name[256] = {};
    WCHAR domain[256] = {};
    DWORD nameChars = 256, domainChars = 256;
    SID_NAME_USE use = SidTypeUser;
    if (!LookupAccountSidW(nullptr, sid, name, &nameChars, domain, &domainChars, &use))
        return SidText(sid);
    const std::string domainText = Utf8(domain);
    return domainText.empty() ? Utf8(name) : domainText + "\\" + Utf8(name);
}

} // namespace

UserHive::~UserHive() {
    if (owned_ && root_)
        RegCloseKey(root_);
}

UserHive::UserHive(UserHive&& other) noexcept {
    *this = std::move(other);
}

UserHive& UserHive::operator=(UserHive&& other) noexcept {
    if (this != &other) {
        if (owned_ && root_)
            RegCloseKey(root_);
        root_ = std::exchange(other.root_, HKEY_CURRENT_USER);
        owned_ = std::exchange(other.owned_, false);
        rootName_ = std::move(other.rootName_);
        owner_ = other.owner_;
        account_ = std::move(other.account_);
        error_ = other.error_;
        programIsSystem_ = other.programIsSystem_;
    }
    return *this;
}

UserHive OpenUserHive(bool lookUpAccount) {
    UserHive hive;
    unsigned long error = 0;
    const TokenUserInfo program = TokenUserOf(GetCurrentProcess(), error);
    if (!program.empty() && lookUpAccount)
        hive.account_ = AccountName(program.sid());
    hive.programIsSystem_ = !program.empty() && SidText(program.sid()) == "S-1-5-18";
    bool shellFound = false;
    const TokenUserInfo desktop = DesktopUser(shellFound, error);
    if (!shellFound) {
        hive.owner_ = HiveOwner::NoDesktop;
        return hive;
    }
    if (program.empty() || desktop.empty()) {
        hive.owner_ = HiveOwner::DesktopUnknown;
        hive.error_ = error;
        return hive;
    }
    if (EqualSid(program.sid(), desktop.sid()))
        return hive;

    hive.owner_ = HiveOwner::DesktopUser;
    hive.account_ = lookUpAccount ? AccountName(desktop.sid()) : std::string();
    const std::string sid = SidText(desktop.sid());
    hive.rootName_ = "HKEY_USERS\\" + sid;
    HKEY key = nullptr;
    LSTATUS rc = sid.empty()
                     ? ERROR_INVALID_PARAMETER
                     : RegOpenKeyExA(HKEY_USERS, sid.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    // Read access at least lets the check see the settings; their repair then fails.
    if (rc == ERROR_ACCESS_DENIED)
        rc = RegOpenKeyExA(HKEY_USERS, sid.c_str(), 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) {
        hive.owner_ = HiveOwner::HiveUnavailable;
        hive.error_ = static_cast<unsigned long>(rc);
        hive.root_ = nullptr;
        return hive;
    }
    hive.root_ = key;
    hive.owned_ = true;
    return hive;
}

RegRoot::RegRoot(const std::string& rootName) {
    if (rootName == "HKEY_CURRENT_USER") {
        user_ = OpenUserHive();
        key_ = user_.root();
    } else {
        key_ = RegRootKey(rootName);
    }
}
