#include "registry_handles.h"

#include "machine_accounts.h"
#include "reg_roots.h"

#include <mutex>
#include <unordered_map>

namespace winshim::reg {

namespace {
std::mutex g_mutex;
std::unordered_map<uintptr_t, OpenKey> g_handles;
// Handle values are small multiples of four, as Windows' are, and never reused while the
// process runs, so that a closed handle stays invalid.
uintptr_t g_next = 0x1000;

constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;
} // namespace

HKEY AddHandle(const OpenKey& key) {
    std::lock_guard<std::mutex> guard(g_mutex);
    uintptr_t value = g_next;
    g_next += 4;
    g_handles.emplace(value, key);
    return reinterpret_cast<HKEY>(value);
}

bool ResolveHandle(HKEY handle, OpenKey* key) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    std::string root = RootNameOfHandle(value);
    if (!root.empty()) {
        // HKEY_CURRENT_USER is the program's user's hive where the machine has accounts.
        key->path = root == "HKEY_CURRENT_USER" ? CurrentUserKeyPath() : root;
        key->access = KEY_ALL_ACCESS;
        return true;
    }
    std::lock_guard<std::mutex> guard(g_mutex);
    auto it = g_handles.find(value);
    if (it == g_handles.end())
        return false;
    *key = it->second;
    return true;
}

bool ReleaseHandle(HKEY handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (!RootNameOfHandle(value).empty())
        return true;
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_handles.erase(value) == 1;
}

REGSAM EffectiveAccess(REGSAM requested) {
    REGSAM access = requested & ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (access & (kGenericRead | kGenericExecute))
        access |= KEY_READ;
    if (access & kGenericWrite)
        access |= KEY_WRITE;
    if (access & (kGenericAll | kMaximumAllowed))
        access |= KEY_ALL_ACCESS;
    return access;
}

} // namespace winshim::reg
