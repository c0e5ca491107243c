#include "windows_test_env.h"

#include <cstdlib>
#include <ctime>

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

void DeleteRegistryTree(HKEY root, const std::string& subKey) {
#ifdef _WIN32
    RegDeleteTreeA(root, subKey.c_str());
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
