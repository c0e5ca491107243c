// RegOpenKeyExA, RegQueryValueExA, RegCreateKeyExA, RegSetValueExA and RegCloseKey over the
// machine folder's registry file. Names and string data arrive in GBK, as with the "A"
// functions on Windows, and are held as Windows holds them (see reg_model.h). On a 64-bit
// machine a key is opened or created in the view its call's flags name (reg_views.h); a
// handle keeps the key it found, so a subkey opened under it picks its view anew from its
// own call's flags.
#include "machine_accounts.h"
#include "machine_bits.h"
#include "reg_store.h"
#include "reg_views.h"
#include "registry_handles.h"

#include <winshim/windows.h>

#include <cstring>

using namespace winshim::reg;

namespace {

constexpr LONG kErrorBadPathname = 161; // ERROR_BAD_PATHNAME

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A name for the registry file: GBK to UTF-8; false when it holds a line break, which the
// file cannot carry.
bool NameFromAnsi(const char* ansi, std::string* utf8) {
    *utf8 = ansi ? AnsiToUtf8(ansi) : std::string();
    return utf8->find_first_of("\r\n") == std::string::npos;
}

// The full path of subKey under base. creating: RegCreateKeyExA's rules for bad names.
LONG JoinSubKey(const std::string& base, const char* subKey, bool creating, std::string* path) {
    std::string sub;
    if (!NameFromAnsi(subKey, &sub))
        return ERROR_INVALID_PARAMETER;
    if (sub.empty()) {
        *path = base;
        return ERROR_SUCCESS;
    }
    if (sub[0] == '\\' || sub.find("\\\\") != std::string::npos)
        return creating ? kErrorBadPathname : ERROR_FILE_NOT_FOUND;
    if (!NormalizeKeyPath(base + "\\" + sub, path))
        return ERROR_INVALID_PARAMETER; // a name longer than 255 characters, or too deep
    return ERROR_SUCCESS;
}

Bytes StoredData(DWORD type, const BYTE* data, DWORD size) {
    std::string raw = data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    // The "A" function terminates a string that its caller left unterminated.
    if (IsStringType(type) && !raw.empty() && raw.back() != '\0')
        raw.push_back('\0');
    if (IsStringType(type))
        return Utf8ToUtf16Le(AnsiToUtf8(raw));
    return Bytes(raw.begin(), raw.end());
}

// A key of the file, or the hive of an account, which Windows always has loaded.
bool KeyExists(const RegModel& model, const std::string& path) {
    return model.Exists(path) || winshim::IsLoadedHive(path);
}

std::string ReturnedData(const RegValue& value) {
    if (IsStringType(value.type))
        return Utf8ToAnsi(Utf16LeToUtf8(value.data));
    return std::string(value.data.begin(), value.data.end());
}

} // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
    (void)ulOptions;
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey base;
    if (!ResolveHandle(hKey, &base))
        return ERROR_INVALID_HANDLE;
    std::string path;
    LONG rc = JoinSubKey(base.path, lpSubKey, false, &path);
    if (rc != ERROR_SUCCESS)
        return rc;
    rc = ReadRegistry([&](const RegModel& model) -> long {
        if (!KeyExists(model, base.path))
            return ERROR_KEY_DELETED;
        path = ViewPath(path, samDesired, Is64BitMachine(model));
        return KeyExists(model, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (rc == ERROR_SUCCESS)
        *phkResult = AddHandle(OpenKey{path, EffectiveAccess(samDesired)});
    return rc;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    OpenKey base;
    if (!ResolveHandle(hKey, &base))
        return ERROR_INVALID_HANDLE;
    std::string path;
    LONG rc = JoinSubKey(base.path, lpSubKey, true, &path);
    if (rc != ERROR_SUCCESS)
        return rc;
    bool created = false;
    rc = ModifyRegistry([&](RegModel& model, bool* changed) -> long {
        if (!KeyExists(model, base.path))
            return ERROR_KEY_DELETED;
        path = ViewPath(path, samDesired, Is64BitMachine(model));
        if (model.Exists(path))
            return ERROR_SUCCESS;
        if (!IsCreatablePath(path))
            return ERROR_ACCESS_DENIED; // HKEY_USERS holds only the loaded hives
        model.Ensure(path, &created);
        *changed = true;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    *phkResult = AddHandle(OpenKey{path, EffectiveAccess(samDesired)});
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    OpenKey key;
    if (!ResolveHandle(hKey, &key))
        return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    std::string name;
    if (!NameFromAnsi(lpValueName, &name))
        return ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    std::string data;
    LONG rc = ReadRegistry([&](const RegModel& model) -> long {
        if (!KeyExists(model, key.path))
            return ERROR_KEY_DELETED;
        const RegKey* k = model.Find(key.path);
        const RegValue* v = k ? k->FindValue(name) : nullptr;
        if (!v)
            return ERROR_FILE_NOT_FOUND;
        type = v->type;
        data = ReturnedData(*v);
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS)
        return rc;
    if (lpType)
        *lpType = type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    DWORD needed = static_cast<DWORD>(data.size());
    if (lpData && *lpcbData < needed) {
        *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    if (lpData && needed > 0)
        std::memcpy(lpData, data.data(), needed);
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    (void)Reserved;
    OpenKey key;
    if (!ResolveHandle(hKey, &key))
        return ERROR_INVALID_HANDLE;
    if (!(key.access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!lpData && cbData > 0)
        return ERROR_NOACCESS;
    RegValue value;
    if (!NameFromAnsi(lpValueName, &value.name))
        return ERROR_INVALID_PARAMETER;
    value.type = dwType;
    value.data = StoredData(dwType, lpData, cbData);
    return ModifyRegistry([&](RegModel& model, bool* changed) -> long {
        if (!KeyExists(model, key.path))
            return ERROR_KEY_DELETED;
        model.Ensure(key.path).SetValue(value);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    return ReleaseHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
