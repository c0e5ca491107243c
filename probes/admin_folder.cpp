#include "admin_folder.h"

#include "native_path.h"
#include "winapi.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#else
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
// NT SERVICE\TrustedInstaller, the owner of Windows' own files (a service SID, not one of
// the well-known kinds).
constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::string FreshFolderName(unsigned long long stamp, int n) {
    return std::string(kFreshFolderPrefix) + std::to_string(stamp) + "-" + std::to_string(n);
}
} // namespace

#ifdef _WIN32
namespace {

// Owner Administrators; SYSTEM and Administrators full control, Users and Authenticated
// Users read and execute (0x1200a9); protected from what C:\ProgramData passes down.
const wchar_t kFolderSddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                              L"(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AU)";
const wchar_t kFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x1200a9;;;AU)";

// Holds a security descriptor made from SDDL.
struct Descriptor {
    PSECURITY_DESCRIPTOR sd = nullptr;
    explicit Descriptor(const wchar_t* sddl) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd,
                                                                  nullptr))
            sd = nullptr;
    }
    ~Descriptor() { LocalFree(sd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// Enables taking ownership and restoring (writing owner and ACL past the object's own ACL)
// while it lives, so that a folder another account owns and locked can be taken over. The
// program runs elevated; where a privilege is not held, opening the folder fails instead.
class TakeOverPrivileges {
  public:
    TakeOverPrivileges() {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token_))
            token_ = nullptr;
        struct {
            DWORD PrivilegeCount;
            LUID_AND_ATTRIBUTES Privileges[2];
        } wanted{};
        const wchar_t* names[] = {L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege"};
        for (const wchar_t* name : names) {
            LUID luid{};
            if (LookupPrivilegeValueW(nullptr, name, &luid))
                wanted.Privileges[wanted.PrivilegeCount++] = {luid, SE_PRIVILEGE_ENABLED};
        }
        DWORD size = sizeof previous_;
        if (!token_ || wanted.PrivilegeCount == 0 ||
            !AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&wanted),
                                   size, reinterpret_cast<PTOKEN_PRIVILEGES>(previous_), &size))
            restore_ = false;
    }
    ~TakeOverPrivileges() {
        if (token_ && restore_)
            AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(previous_), 0,
                                  nullptr, nullptr);
        if (token_)
            CloseHandle(token_);
    }
    TakeOverPrivileges(const TakeOverPrivileges&) = delete;
    TakeOverPrivileges& operator=(const TakeOverPrivileges&) = delete;

  private:
    HANDLE token_ = nullptr;
    bool restore_ = true;
    alignas(DWORD) BYTE previous_[sizeof(DWORD) + 2 * sizeof(LUID_AND_ATTRIBUTES)] = {};
};

// Owner and DACL through a handle, so that what was checked is what gets changed.
bool Apply(HANDLE handle, const wchar_t* sddl) {
    Descriptor wanted(sddl);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!wanted.sd || !GetSecurityDescriptorOwner(wanted.sd, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(wanted.sd, &present, &dacl, &defaulted) || !present)
        return false;
    return SetSecurityInfo(handle, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// The object itself, never what a junction or symbolic link in its place points to.
HANDLE OpenForSecurity(const std::wstring& path) {
    return CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

// The account this program runs as. An elevated administrator's new objects are owned by
// Administrators, so an object this account owns was made by one of its unelevated
// processes (any program the user started, malware among them): trusted only when this
// program is not elevated itself, or under Wine, which keeps no owners and names the
// account as the owner of everything.
bool IsOwnUser(PSID sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                      EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
    CloseHandle(token);
    return same;
}

bool Elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return true; // the stricter reading
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool known =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return !known || elevation.TokenIsElevated != 0;
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool IsTrustedInstaller(PSID sid) {
    LPSTR text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return false;
    const bool same = std::string(text) == kTrustedInstallerSid;
    LocalFree(text);
    return same;
}

// Owned by Administrators, SYSTEM or TrustedInstaller (or this account, see IsOwnUser):
// nobody else can have changed its ACL, nor hold a handle opened with rights the ACL no
// longer grants.
bool OwnedByAdministrators(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    const bool admin =
        owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                  IsWellKnownSid(owner, WinLocalSystemSid) || IsTrustedInstaller(owner) ||
                  (IsOwnUser(owner) && (!Elevated() || UnderWine())));
    LocalFree(sd);
    return admin;
}

// Renames a folder someone else made out of the way ("<name>.untrusted-<n>"), so that the
// name can be created anew. Handles its owner still holds keep pointing at the old one.
bool MoveAside(const std::wstring& path) {
    for (int n = 1; n <= 20; ++n) {
        const std::wstring aside =
            path + L".untrusted-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(n);
        if (MoveFileExW(path.c_str(), aside.c_str(), 0))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

} // namespace

int MakeAdminOnlyFolder(const std::string& windowsFolder) {
    std::error_code ec;
    const fs::path folder = fs::u8path(windowsFolder);
    const std::wstring path = folder.wstring();
    fs::create_directories(folder.parent_path(), ec);
    TakeOverPrivileges privileges;
    Descriptor created(kFolderSddl);
    if (!created.sd)
        return -2;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, created.sd, FALSE};
    // Someone may put a folder, a link or a file there between two steps: a few rounds.
    for (int round = 0; round < 4; ++round) {
        // Made here with its descriptor in the same call: no one else ever had it open.
        if (CreateDirectoryW(path.c_str(), &attributes))
            return 1;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return -1;
        const HANDLE handle = OpenForSecurity(path);
        if (handle == INVALID_HANDLE_VALUE) {
            if (!MoveAside(path))
                return -2;
            continue;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        const bool got = GetFileInformationByHandle(handle, &info);
        const bool realFolder = got && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                                !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (realFolder && OwnedByAdministrators(handle)) {
            // Ours from before: its ACL is set again, in case it was loosened.
            const bool secured = Apply(handle, kFolderSddl);
            CloseHandle(handle);
            return secured ? 1 : -2;
        }
        if (realFolder) {
            // Another account's folder: taken over (so that it may be renamed), then moved
            // aside; the next round creates ours.
            Apply(handle, kFolderSddl);
            CloseHandle(handle);
            if (!MoveAside(path))
                return -2;
            continue;
        }
        CloseHandle(handle);
        if (!got)
            return -2;
        // A junction, symbolic link or file: removing it removes only the name.
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? !RemoveDirectoryW(path.c_str())
                                                             : !DeleteFileW(path.c_str()))
            return -2;
    }
    return -2;
}

bool AdminOwned(const std::string& windowsPath) {
    const HANDLE handle =
        CreateFileW(fs::u8path(windowsPath).wstring().c_str(), READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool owned = GetFileInformationByHandle(handle, &info) &&
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                       OwnedByAdministrators(handle);
    CloseHandle(handle);
    return owned;
}

int MakeFreshAdminFolder(const std::string& windowsParent, std::string& madeFolder) {
    Descriptor created(kFolderSddl);
    if (!created.sd)
        return -1;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, created.sd, FALSE};
    for (int n = 1; n <= 100; ++n) {
        const std::string name = FreshFolderName(GetTickCount64(), n);
        const std::string folder = windowsParent + "\\" + name;
        // Fails when the name exists: only a folder made by this call is ever used.
        if (CreateDirectoryW(fs::u8path(folder).wstring().c_str(), &attributes)) {
            madeFolder = folder;
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return -1;
    }
    return -1;
}

int MakeAdminOnlyFile(const std::string& windowsFile) {
    const HANDLE handle = OpenForSecurity(fs::u8path(windowsFile).wstring());
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    const bool secured = Apply(handle, kFileSddl);
    CloseHandle(handle);
    return secured ? 1 : -1;
}

#else

// The stand-in keeps an owner only where one is given: the extended attribute
// "user.quelda.owner" (a SID in text form; tests give folders to the accounts of
// accounts.ini with it). Without it a file of this user id is the elevated program's own,
// as an elevated administrator's new objects are Administrators' on Windows.
namespace {

constexpr char kOwnerAttribute[] = "user.quelda.owner";

bool TrustedOwner(int fd) {
    char owner[256];
    const ssize_t length = ::fgetxattr(fd, kOwnerAttribute, owner, sizeof owner - 1);
    if (length < 0)
        return errno == ENODATA || errno == ENOTSUP;
    const std::string sid(owner, static_cast<std::size_t>(length));
    return sid == "S-1-5-32-544" || sid == "S-1-5-18" || sid == kTrustedInstallerSid;
}

// "<name>.untrusted-<n>", as on Windows.
bool MoveAside(const fs::path& folder) {
    for (int n = 1; n <= 20; ++n) {
        const fs::path aside = folder.string() + ".untrusted-" + std::to_string(::time(nullptr)) +
                               "-" + std::to_string(n);
        if (::renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace

int MakeAdminOnlyFolder(const std::string& windowsFolder) {
    std::error_code ec;
    const fs::path folder = fs::u8path(ToNativePath(windowsFolder));
    fs::create_directories(folder.parent_path(), ec);
    for (int round = 0; round < 4; ++round) {
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return -1;
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid();
            const bool trusted = ours && TrustedOwner(fd);
            const bool secured = trusted && ::fchmod(fd, 0755) == 0;
            ::close(fd);
            if (ours && !trusted) {
                // The program's own account made it unelevated: moved aside, made anew.
                if (!MoveAside(folder))
                    return -2;
                continue;
            }
            return secured ? 1 : -2;
        }
        if (errno != ELOOP && errno != ENOTDIR)
            return -2;
        // A symbolic link or a file: removing it removes only the name.
        if (::unlink(folder.c_str()) != 0)
            return -2;
    }
    return -2;
}

bool AdminOwned(const std::string& windowsPath) {
    const fs::path path = fs::u8path(ToNativePath(windowsPath));
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool owned = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() &&
                       (st.st_mode & 022) == 0 && TrustedOwner(fd);
    ::close(fd);
    return owned;
}

int MakeFreshAdminFolder(const std::string& windowsParent, std::string& madeFolder) {
    const unsigned long long stamp = static_cast<unsigned long long>(::time(nullptr));
    for (int n = 1; n <= 100; ++n) {
        const std::string folder = windowsParent + "\\" + FreshFolderName(stamp, n);
        // mkdir fails when the name exists: only a folder made by this call is ever used.
        if (::mkdir(ToNativePath(folder).c_str(), 0755) == 0) {
            madeFolder = folder;
            return 1;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

int MakeAdminOnlyFile(const std::string& windowsFile) {
    const fs::path file = fs::u8path(ToNativePath(windowsFile));
    return ::chmod(file.c_str(), 0644) == 0 ? 1 : -1;
}

#endif
