// The account functions over the machine folder's accounts.ini (machine_accounts.h): the
// shell window and its process, the program's own process, their tokens' users, and the
// SIDs' text and account names.
#include "machine_accounts.h"
#include "machine_handles.h"
#include "process_object.h"

#include <winshim/windows.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

using winshim::MachineAccounts;

constexpr LONG kErrorInvalidWindowHandle = 1400;
constexpr LONG kErrorInvalidSid = 1337;
constexpr LONG kErrorNoToken = 1008;

// The shell's window and process: values no Linux process has (pids stay below 2^22).
const uintptr_t kShellWindow = 0x10010;
const DWORD kShellProcessId = 0x40000004;
const DWORD kShellThreadId = 0x40000008;

// A process known here only by the account it runs as.
struct AccountProcess : winshim::HandleObject {
    explicit AccountProcess(std::string sid) : sid(std::move(sid)) {}
    std::string sid;
};

struct AccessToken : winshim::HandleObject {
    AccessToken(std::vector<BYTE> sid, DWORD access) : sid(std::move(sid)), access(access) {}
    std::vector<BYTE> sid;
    DWORD access;
};

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// Copies text and its NUL into a buffer of at least text.size() + 1 characters; *chars is
// then the text's length.
void CopyOut(const std::wstring& text, LPWSTR buffer, LPDWORD chars) {
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    *chars = static_cast<DWORD>(text.size());
}

std::wstring Widen(const std::string& utf8) {
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t cp = extra ? c & (0x3F >> extra) : c;
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        wide.push_back(static_cast<wchar_t>(cp));
        i += 1 + extra;
    }
    return wide;
}

} // namespace

HWND WINAPI GetShellWindow() {
    const MachineAccounts accounts = winshim::ReadMachineAccounts();
    if (!accounts.valid || !accounts.hasDesktop)
        return nullptr;
    return reinterpret_cast<HWND>(kShellWindow);
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    if (reinterpret_cast<uintptr_t>(hWnd) != kShellWindow || !GetShellWindow()) {
        SetLastError(kErrorInvalidWindowHandle);
        return 0;
    }
    if (lpdwProcessId)
        *lpdwProcessId = kShellProcessId;
    return kShellThreadId;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    (void)dwDesiredAccess;
    (void)bInheritHandle;
    const MachineAccounts accounts = winshim::ReadMachineAccounts();
    if (dwProcessId == static_cast<DWORD>(getpid()))
        return winshim::AddHandle(std::make_shared<AccountProcess>(accounts.program.sid));
    if (dwProcessId == kShellProcessId && accounts.valid && accounts.hasDesktop)
        return winshim::AddHandle(std::make_shared<AccountProcess>(accounts.desktop.sid));
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (!TokenHandle)
        return Fail(ERROR_NOACCESS);
    *TokenHandle = nullptr;
    const MachineAccounts accounts = winshim::ReadMachineAccounts();
    if (!accounts.valid)
        return Fail(kErrorNoToken);
    std::string sid;
    if (auto process = winshim::LookupHandle<AccountProcess>(ProcessHandle))
        sid = process->sid;
    else if (ProcessHandle == GetCurrentProcess() ||
             winshim::LookupHandle<winshim::ProcessObject>(ProcessHandle))
        sid = accounts.program.sid; // children run as the program's user
    else
        return Fail(ERROR_INVALID_HANDLE);
    *TokenHandle = winshim::AddHandle(
        std::make_shared<AccessToken>(winshim::SidFromString(sid), DesiredAccess));
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength,
                                PDWORD ReturnLength) {
    auto token = winshim::LookupHandle<AccessToken>(TokenHandle);
    if (!token)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(token->access & TOKEN_QUERY))
        return Fail(ERROR_ACCESS_DENIED);
    if (TokenInformationClass != TokenUser || !ReturnLength)
        return Fail(ERROR_INVALID_PARAMETER);
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + token->sid.size());
    *ReturnLength = needed;
    if (!TokenInformation || TokenInformationLength < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* user = static_cast<TOKEN_USER*>(TokenInformation);
    BYTE* sid = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
    std::memcpy(sid, token->sid.data(), token->sid.size());
    user->User.Sid = sid;
    user->User.Attributes = 0;
    return TRUE;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    const auto* a = static_cast<const BYTE*>(pSid1);
    const auto* b = static_cast<const BYTE*>(pSid2);
    const std::size_t length = winshim::SidLength(a);
    SetLastError(ERROR_SUCCESS);
    if (length == 0 || winshim::SidLength(b) == 0)
        return Fail(kErrorInvalidSid);
    return length == winshim::SidLength(b) && std::memcmp(a, b, length) == 0;
}

BOOL WINAPI ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid) {
    if (!StringSid)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* sid = static_cast<const BYTE*>(Sid);
    const std::string text = winshim::SidToString(sid, winshim::SidLength(sid));
    if (text.empty())
        return Fail(kErrorInvalidSid);
    const std::wstring wide = Widen(text);
    auto* copy = static_cast<LPWSTR>(std::malloc((wide.size() + 1) * sizeof(WCHAR)));
    if (!copy)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    *StringSid = copy;
    return TRUE;
}

BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName,
                              LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse) {
    (void)lpSystemName;
    if (!cchName || !cchReferencedDomainName || !peUse)
        return Fail(ERROR_INVALID_PARAMETER);
    const auto* sid = static_cast<const BYTE*>(Sid);
    const std::string text = winshim::SidToString(sid, winshim::SidLength(sid));
    if (text.empty())
        return Fail(kErrorInvalidSid);
    const MachineAccounts accounts = winshim::ReadMachineAccounts();
    std::string account;
    for (const winshim::MachineAccount* known : {&accounts.program, &accounts.desktop})
        if (known->sid == text)
            account = known->account;
    if (account.empty())
        return Fail(ERROR_NONE_MAPPED);
    const size_t slash = account.find('\\');
    const std::wstring domain = Widen(slash == std::string::npos ? "" : account.substr(0, slash));
    const std::wstring name =
        Widen(slash == std::string::npos ? account : account.substr(slash + 1));
    // A short buffer: both counts say what they need, NUL included.
    if (!Name || *cchName <= name.size() || !ReferencedDomainName ||
        *cchReferencedDomainName <= domain.size()) {
        *cchName = static_cast<DWORD>(name.size() + 1);
        *cchReferencedDomainName = static_cast<DWORD>(domain.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    CopyOut(name, Name, cchName);
    CopyOut(domain, ReferencedDomainName, cchReferencedDomainName);
    *peUse = SidTypeUser;
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

namespace winshim {
bool CloseAccountHandle(HANDLE handle) {
    return RemoveHandle<AccountProcess>(handle) || RemoveHandle<AccessToken>(handle);
}
} // namespace winshim
