#include "windows_test_env.h"

#include "probes/windows_bits.h"
#include "registry_calls.h"

#include <cstdlib>
#include <ctime>

#ifdef _WIN32
#include <aclapi.h>
#include <sddl.h>
#endif

bool AnsiIsGbk() {
#ifdef _WIN32
    return GetACP() == 936;
#else
    return true;
#endif
}

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

#ifdef _WIN32
bool SetDacl(const std::filesystem::path& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    std::wstring name = path.wstring();
    const DWORD set = SetNamedSecurityInfoW(
        &name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, dacl, nullptr);
    LocalFree(sd);
    return set == ERROR_SUCCESS;
}
#endif

bool UseA64BitWindows() {
#ifndef _WIN32
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE,
                         "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
    if (key) {
        SetValue(key, "PROCESSOR_ARCHITECTURE", REG_SZ, std::string("AMD64", 6));
        RegCloseKey(key);
    }
#endif
    return WindowsIs64Bit();
}

void DeleteRegistryTree(HKEY root, const std::string& subKey) {
#ifdef _WIN32
    // In both views of a 64-bit Windows; a 32-bit one ignores the flags.
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
            continue;
        RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExA(root, subKey.c_str(), view, 0);
    }
#else
    (void)root;
    (void)subKey;
#endif
}

namespace {
// An empty value removes the variable.
void SetTz(const char* value) {
#ifdef _WIN32
    _putenv_s("TZ", value);
    _tzset();
#else
    if (*value)
        setenv("TZ", value, 1);
    else
        unsetenv("TZ");
    tzset();
#endif
}
} // namespace

ScopedTimeZone::ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    SetTz(tz);
}

ScopedTimeZone::~ScopedTimeZone() {
    SetTz(hadPrevious_ ? previous_.c_str() : "");
}
