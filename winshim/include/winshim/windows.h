// The subset of the Windows API that probes/ calls, for builds whose target is not
// Windows. Types, constants, error codes and signatures follow the Windows SDK, so that
// the probe code is the same text on both targets. Only what the probes use is here.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// ---- basic types (ILP32 on Windows; fixed widths here) ----
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef int BOOL;
typedef BOOL* PBOOL;
typedef unsigned int UINT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef BYTE* LPBYTE;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef UINT* PUINT;
typedef void* HANDLE;
typedef LONG LSTATUS;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef int64_t __time64_t;

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI

// ---- error codes (winerror.h) ----
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_FORMAT 11L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NOT_OWNER 288L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CANCELLED 1223L
#define ERROR_INSTALL_USEREXIT 1602L
#define ERROR_INSTALL_FAILURE 1603L
#define ERROR_INSTALL_ALREADY_RUNNING 1618L
#define ERROR_SUCCESS_REBOOT_INITIATED 1641L
#define ERROR_SUCCESS_REBOOT_REQUIRED 3010L
#define ERROR_RESOURCE_LANG_NOT_FOUND 15100L
#define ERROR_NONE_MAPPED 1332L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

// ---- registry (winreg.h / winnt.h) ----
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)
#define HKEY_PERFORMANCE_DATA ((HKEY)(uintptr_t)0x80000004u)
#define HKEY_CURRENT_CONFIG ((HKEY)(uintptr_t)0x80000005u)
#define HKEY_DYN_DATA ((HKEY)(uintptr_t)0x80000006u)
#define HKEY_CURRENT_USER_LOCAL_SETTINGS ((HKEY)(uintptr_t)0x80000007u)
#define HKEY_PERFORMANCE_TEXT ((HKEY)(uintptr_t)0x80000050u)
#define HKEY_PERFORMANCE_NLSTEXT ((HKEY)(uintptr_t)0x80000060u)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define READ_CONTROL 0x00020000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define SYNCHRONIZE 0x00100000L
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0xF003F

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult);
LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData);
LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition);
LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData);
LSTATUS WINAPI RegCloseKey(HKEY hKey);

// ---- files (fileapi.h, minwinbase.h) ----
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

#define GENERIC_READ 0x80000000L
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
// Read access to an existing file only. A handle whose share mode lacks FILE_SHARE_WRITE
// and FILE_SHARE_DELETE holds its path: ShellExecuteExA of that path starts the file
// behind the handle, whatever the path names by then (see file_object.h).
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, void* lpOverlapped);
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
// The free space of the drive holding a folder, from the machine folder's own file system;
// "disk-space.ini" in the machine folder ("C: = <free bytes>") overrides it per drive.
BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, unsigned long long* lpFreeBytesAvailable,
                                unsigned long long* lpTotalNumberOfBytes,
                                unsigned long long* lpTotalNumberOfFreeBytes);
BOOL WINAPI FindClose(HANDLE hFindFile);
BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);

// ---- version resources (winver.h) ----
#define VS_FFI_SIGNATURE 0xFEEF04BDL

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen);

#define HIWORD(l) ((WORD)((((DWORD)(l)) >> 16) & 0xffff))
#define LOWORD(l) ((WORD)(((DWORD)(l)) & 0xffff))

// ---- shell and processes (shellapi.h, synchapi.h, processthreadsapi.h) ----
#define SEE_MASK_DEFAULT 0x00000000
#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define STILL_ACTIVE 259
#define SE_ERR_FNF 2
#define SE_ERR_ACCESSDENIED 5

struct SHELLEXECUTEINFOA {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    };
    HANDLE hProcess;
};
typedef SHELLEXECUTEINFOA* LPSHELLEXECUTEINFOA;

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* pExecInfo);
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
BOOL WINAPI CloseHandle(HANDLE hObject);
// The pseudo handle (HANDLE)-1 of the calling process.
HANDLE WINAPI GetCurrentProcess();
// TRUE in *Wow64Process for a 32-bit process on a 64-bit Windows: over the machine folder,
// when its registry's PROCESSOR_ARCHITECTURE is "AMD64" or "ARM64" (see machine_bits.h).
BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);

// A process started by ShellExecuteExA ends with a Windows exit code (32 bits) by writing it
// in decimal to the file that the environment variable WINSHIM_EXIT_CODE_FILE names, then
// exiting normally; GetExitCodeProcess reports that code. A POSIX exit status has 8 bits
// only. Without the file the exit status is the code.

// ---- named mutexes (synchapi.h) ----
// Over the machine folder: the mutex "Global\name" is the file
// <machine>/mutexes/Global/name ("Local\" for a name without a namespace), and it is owned
// while an open handle holds the file's flock. So a test, or any process, holds a mutex the
// way Windows Installer holds "Global\_MSIExecute". Unlike Windows, ownership belongs to the
// handle, not to the thread (a second handle of the owning thread does not get in), an
// ended owner is not reported as WAIT_ABANDONED, and the object outlives its last handle.
#define MUTEX_MODIFY_STATE 0x0001
#define MUTEX_ALL_ACCESS 0x1F0001
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCWSTR lpName);
// NULL with ERROR_FILE_NOT_FOUND when no such mutex exists.
HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
// WaitForSingleObject on a mutex handle takes ownership (WAIT_OBJECT_0) or times out.
BOOL WINAPI ReleaseMutex(HANDLE hMutex);

// ---- system messages (winbase.h) ----
// FORMAT_MESSAGE_FROM_SYSTEM with FORMAT_MESSAGE_IGNORE_INSERTS into a caller's buffer only,
// from a small table of the messages of Chinese (Simplified) Windows; a message ends in
// "\r\n" as Windows' do. Language 0, LANG_NEUTRAL/SUBLANG_DEFAULT or zh-CN (0x0804).
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
// ---- Authenticode (wintrust.h, softpub.h, wincrypt.h) ----
// WinVerifyTrust checks a PE file's Authenticode signature for real: the certificate table,
// the file's digest, the PKCS#7 signature, and the signer's chain up to a root of the
// machine folder's trust/roots/*.pem; revocation from trust/crls/*.pem (a certificate
// without a CRL there is "cannot be checked", as on a Windows that is offline).
typedef LONG HRESULT;
typedef WCHAR* LPWSTR;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

// clang-format off
#define WINTRUST_ACTION_GENERIC_VERIFY_V2                                                          \
    { 0xaac56b, 0xcd44, 0x11d0, { 0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee } }
// clang-format on

#define TRUST_E_SUBJECT_FORM_UNKNOWN ((LONG)0x800B0003L)
#define TRUST_E_PROVIDER_UNKNOWN ((LONG)0x800B0001L)
#define TRUST_E_ACTION_UNKNOWN ((LONG)0x800B0002L)
#define TRUST_E_NOSIGNATURE ((LONG)0x800B0100L)
#define TRUST_E_BAD_DIGEST ((LONG)0x80096010L)
#define TRUST_E_FAIL ((LONG)0x800B010BL)
#define TRUST_E_EXPLICIT_DISTRUST ((LONG)0x800B0111L)
#define NTE_BAD_SIGNATURE ((LONG)0x80090006L)
#define CERT_E_EXPIRED ((LONG)0x800B0101L)
#define CERT_E_UNTRUSTEDROOT ((LONG)0x800B0109L)
#define CERT_E_CHAINING ((LONG)0x800B010AL)
#define CERT_E_REVOKED ((LONG)0x800B010CL)
#define CERT_E_REVOCATION_FAILURE ((LONG)0x800B010EL)
#define CERT_E_WRONG_USAGE ((LONG)0x800B0110L)
#define CRYPT_E_NO_REVOCATION_CHECK ((LONG)0x80092012L)
#define CRYPT_E_REVOCATION_OFFLINE ((LONG)0x80092013L)
#define E_INVALIDARG ((LONG)0x80070057L)

#define WTD_UI_NONE 2
#define WTD_REVOKE_NONE 0x00000000
#define WTD_REVOKE_WHOLECHAIN 0x00000001
#define WTD_CHOICE_FILE 1
#define WTD_STATEACTION_IGNORE 0x00000000
#define WTD_STATEACTION_VERIFY 0x00000001
#define WTD_STATEACTION_CLOSE 0x00000002
#define WTD_REVOCATION_CHECK_CHAIN 0x00000040

struct WINTRUST_FILE_INFO {
    DWORD cbStruct;
    LPCWSTR pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
};

struct WINTRUST_DATA {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    union {
        WINTRUST_FILE_INFO* pFile;
        void* pCatalog;
    };
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    void* pSignatureSettings;
};

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000
#define CERT_NAME_SIMPLE_DISPLAY_TYPE 4

// Only the members the probes read.
struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    void* pCertInfo;
    HANDLE hCertStore;
};
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

struct CRYPT_PROVIDER_CERT {
    DWORD cbStruct;
    PCCERT_CONTEXT pCert;
};

struct CRYPT_PROVIDER_SGNR {
    DWORD cbStruct;
    FILETIME sftVerifyAsOf;
    DWORD csCertChain;
    CRYPT_PROVIDER_CERT* pasCertChain;
};

struct CRYPT_PROVIDER_DATA {
    DWORD cbStruct;
    DWORD csSigners;
    CRYPT_PROVIDER_SGNR* pasSigners;
};

LONG WINAPI WinVerifyTrust(HWND hwnd, GUID* pgActionID, LPVOID pWVTData);
CRYPT_PROVIDER_DATA* WINAPI WTHelperProvDataFromStateData(HANDLE hStateData);
CRYPT_PROVIDER_SGNR* WINAPI WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* pProvData,
                                                           DWORD idxSigner, BOOL fCounterSigner,
                                                           DWORD idxCounterSigner);
DWORD WINAPI CertGetNameStringW(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                void* pvTypePara, LPWSTR pszNameString, DWORD cchNameString);
// ---- accounts (winnt.h, securitybaseapi.h, sddl.h, winbase.h, winuser.h) ----
// Over the machine folder, "accounts.ini" says who runs the program and who owns the
// desktop (the shell window's process); see machine_accounts.h. Without it there is one
// account, which does both.
typedef void* PSID;
typedef HANDLE* PHANDLE;
typedef HANDLE HLOCAL;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
typedef TOKEN_USER* PTOKEN_USER;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
enum SID_NAME_USE { SidTypeUser = 1 };
typedef SID_NAME_USE* PSID_NAME_USE;

#define TOKEN_QUERY 0x0008
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000

HWND WINAPI GetShellWindow();
DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);
HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId);
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength,
                                PDWORD ReturnLength);
BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2);
// *StringSid is freed with LocalFree.
BOOL WINAPI ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid);
BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName, PSID Sid, LPWSTR Name, LPDWORD cchName,
                              LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse);
HLOCAL WINAPI LocalFree(HLOCAL hMem);

// ---- last error (errhandlingapi.h) ----
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);

// ---- C runtime (time.h of the Microsoft CRT) ----
// Valid from 1970-01-01 00:00:00 UTC to 3000-12-31 23:59:59 UTC; -1 outside, as MSVCRT.
__time64_t _mktime64(struct tm* timeptr);
__time64_t _time64(__time64_t* timer);

// ---- not Windows API: the machine folder ----
namespace winshim {

// The folder that holds this "Windows machine": $QUELDA_MACHINE, else
// $XDG_DATA_HOME/quelda/machine, else ~/.local/share/quelda/machine. UTF-8.
std::string MachineDir();

// Maps a Windows path "X:\a\b" (or "X:/a/b") to "<machine>/drive_x/a/b"; any other path
// is returned with backslashes turned into slashes. Below the machine folder each component
// is found as Windows finds it, whatever its case: the name as written when it exists,
// else the entry that differs only in case. UTF-8 in, UTF-8 out.
std::string MapWindowsPath(const std::string& path);

} // namespace winshim
