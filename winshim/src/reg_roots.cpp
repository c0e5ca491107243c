#include "reg_roots.h"

#include "reg_text.h"

namespace winshim::reg {

namespace {
struct Root {
    const char* name;
    uintptr_t handle;
    const char* abbreviation;
};

constexpr Root kRoots[] = {
    {"HKEY_CLASSES_ROOT", 0x80000000u, "HKCR"},
    {"HKEY_CURRENT_USER", 0x80000001u, "HKCU"},
    {"HKEY_LOCAL_MACHINE", 0x80000002u, "HKLM"},
    {"HKEY_USERS", 0x80000003u, "HKU"},
    {"HKEY_PERFORMANCE_DATA", 0x80000004u, nullptr},
    {"HKEY_CURRENT_CONFIG", 0x80000005u, "HKCC"},
    {"HKEY_DYN_DATA", 0x80000006u, nullptr},
    {"HKEY_CURRENT_USER_LOCAL_SETTINGS", 0x80000007u, nullptr},
    {"HKEY_PERFORMANCE_TEXT", 0x80000050u, nullptr},
    {"HKEY_PERFORMANCE_NLSTEXT", 0x80000060u, nullptr},
};
} // namespace

std::string RootNameOfHandle(uintptr_t handle) {
    for (const Root& r : kRoots)
        if (r.handle == handle)
            return r.name;
    return std::string();
}

std::string CanonicalRootName(const std::string& name) {
    std::string folded = FoldCase(name);
    for (const Root& r : kRoots)
        if (folded == r.name)
            return r.name;
    return std::string();
}

std::string RootNameFromShortOrFull(const std::string& name) {
    std::string folded = FoldCase(name);
    for (const Root& r : kRoots)
        if (r.abbreviation && folded == r.abbreviation)
            return r.name;
    return CanonicalRootName(name);
}

} // namespace winshim::reg
