#include "registry.h"

#include "textconv.h"
#include "windows_bits.h"

#include <cstdlib>
#include <cstring>

namespace {
const DWORD kStrBufSize = 260;
// "默认" in GBK: the registry editor's label for a key's unnamed value.
const char kDefaultLabelGbk[] = "\xC4\xAC\xC8\xCF";

// A zero-filled read buffer; the text is taken up to the first NUL or the buffer's end.
struct StrBuf {
    char data[kStrBufSize] = {};
    std::string Text() const {
        const void* nul = std::memchr(data, 0, kStrBufSize);
        return std::string(data, nul ? static_cast<const char*>(nul) - data : kStrBufSize);
    }
    LPBYTE Bytes() { return reinterpret_cast<LPBYTE>(data); }
};

LSTATUS CreateForWrite(HKEY root, const std::string& subKey, HKEY& key) {
    return RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                           nullptr, &key, nullptr);
}

LSTATUS SetText(HKEY key, const std::string& valueName, const std::string& text) {
    return RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}
} // namespace

const std::map<std::string, HKEY>& RegRootTable() {
    static const std::map<std::string, HKEY> table = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", HKEY_USERS},
        {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {"HKEY_DYN_DATA", HKEY_DYN_DATA},
        {"HKEY_CURRENT_USER_LOCAL_SETTINGS", HKEY_CURRENT_USER_LOCAL_SETTINGS},
        {"HKEY_PERFORMANCE_TEXT", HKEY_PERFORMANCE_TEXT},
        {"HKEY_PERFORMANCE_NLSTEXT", HKEY_PERFORMANCE_NLSTEXT},
    };
    return table;
}

HKEY RegRootKey(const std::string& rootName) {
    const auto& table = RegRootTable();
    auto it = table.find(rootName);
    return it == table.end() ? nullptr : it->second;
}

int SplitRegPath(const std::string& regPath, std::string& rootName, std::string& subKey) {
    // The first component is the registry editor's computer label, never part of the key.
    size_t first = regPath.find('\\');
    if (first == std::string::npos)
        return -1;
    std::string rest = regPath.substr(first + 1);
    size_t second = rest.find('\\');
    if (second == std::string::npos)
        return -1;
    rootName = rest.substr(0, second);
    subKey = rest.substr(second + 1);
    return 1;
}

int RegKeyExists(HKEY root, const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    RegCloseKey(key);
    return 1;
}

int CheckRegistryReadable(long& error) {
    HKEY key = nullptr;
    error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WOW64_64KEY, &key);
    if (error == ERROR_SUCCESS) {
        RegCloseKey(key);
        return 1;
    }
    switch (error) {
    case ERROR_BADDB:
    case ERROR_CANTOPEN:
    case ERROR_CANTREAD:
    case ERROR_LOCK_VIOLATION:
        return -1;
    default: // a machine without the key, or rights: not a fault of the store
        error = ERROR_SUCCESS;
        return 1;
    }
}

namespace {
int GetStrValueInView(HKEY root, const std::string& subKeyUtf8, const std::string& valueNameUtf8,
                      REGSAM view, std::string& value) {
    std::string subKey = Utf8ToGbk(subKeyUtf8);
    std::string valueName = Utf8ToGbk(valueNameUtf8);
    if (valueName.find(kDefaultLabelGbk) != std::string::npos)
        valueName.clear();

    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return -3;
    StrBuf buf;
    DWORD size = kStrBufSize;
    LSTATUS rc = RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, buf.Bytes(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return -2;
    value += buf.Text();
    return 0;
}
} // namespace

int RegGetStrValue(HKEY root, const std::string& subKeyUtf8, const std::string& valueNameUtf8,
                   std::string& value) {
    // The program is 32-bit; install locations live in the 64-bit view.
    return GetStrValueInView(root, subKeyUtf8, valueNameUtf8, KEY_WOW64_64KEY, value);
}

int RegGetStrValueEitherView(HKEY root, const std::string& subKeyUtf8,
                             const std::string& valueNameUtf8, std::string& value, RegView* from) {
    const bool twoViews = WindowsIs64Bit();
    RegView answered = twoViews ? RegView::Bits64 : RegView::Single;
    int rc = RegGetStrValue(root, subKeyUtf8, valueNameUtf8, value);
    if (rc < 0 && twoViews &&
        GetStrValueInView(root, subKeyUtf8, valueNameUtf8, KEY_WOW64_32KEY, value) >= 0) {
        answered = RegView::Bits32;
        rc = 0;
    }
    if (from)
        *from = answered;
    return rc;
}

int RegKeyExistsEitherView(HKEY root, const std::string& subKey, RegView* from) {
    const bool twoViews = WindowsIs64Bit();
    RegView answered = twoViews ? RegView::Bits32 : RegView::Single;
    int rc = RegKeyExists(root, subKey);
    HKEY key = nullptr;
    if (rc < 0 && twoViews &&
        RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        answered = RegView::Bits64;
        rc = 1;
    }
    if (from)
        *from = answered;
    return rc;
}

int RegGetDwordValue(HKEY root, const std::string& subKey, const std::string& valueName,
                     DWORD& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -3;
    DWORD type = REG_NONE;
    DWORD number = value;
    DWORD size = sizeof number;
    LSTATUS rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<LPBYTE>(&number), &size);
    int result;
    if (rc == ERROR_SUCCESS && type == REG_DWORD) {
        value = number;
        result = 1;
    } else if ((rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) && type == REG_SZ) {
        // Text longer than four bytes (such as "10912") does not fit the first query, so it
        // is read again through the text buffer as well.
        StrBuf buf;
        DWORD bufSize = kStrBufSize;
        DWORD textType = REG_NONE;
        LSTATUS rc2 =
            RegQueryValueExA(key, valueName.c_str(), nullptr, &textType, buf.Bytes(), &bufSize);
        if (rc2 == ERROR_SUCCESS && textType == REG_SZ) {
            value = static_cast<DWORD>(std::atoi(buf.Text().c_str()));
            result = 2;
        } else {
            result = rc == ERROR_SUCCESS ? 2 : -2;
        }
    } else if (rc == ERROR_SUCCESS) {
        result = -1;
    } else {
        result = -2;
    }
    RegCloseKey(key);
    return result;
}

int RegReadDwordExact(HKEY root, const std::string& subKey, const std::string& valueName,
                      DWORD& value, long& error) {
    HKEY key = nullptr;
    error = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key);
    if (error == ERROR_FILE_NOT_FOUND) {
        error = ERROR_SUCCESS;
        return 0;
    }
    if (error != ERROR_SUCCESS)
        return -2;
    DWORD type = REG_NONE;
    DWORD number = 0;
    DWORD size = sizeof number;
    error = RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                             reinterpret_cast<LPBYTE>(&number), &size);
    RegCloseKey(key);
    if (error == ERROR_FILE_NOT_FOUND) {
        error = ERROR_SUCCESS;
        return 0;
    }
    if (error == ERROR_MORE_DATA || (error == ERROR_SUCCESS && (type != REG_DWORD || size != 4))) {
        error = ERROR_SUCCESS;
        return -1;
    }
    if (error != ERROR_SUCCESS)
        return -2;
    value = number;
    return 1;
}

int RegSetStrValue(HKEY root, const std::string& subKey, const std::string& valueName,
                   const std::string& data) {
    HKEY key = nullptr;
    if (CreateForWrite(root, subKey, key) != ERROR_SUCCESS)
        return -2;
    LSTATUS rc = SetText(key, valueName, data);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 1 : -1;
}

int RegSetDwordValue(HKEY root, const std::string& subKey, const std::string& valueName,
                     const DWORD* value) {
    if (value == nullptr)
        return 0;
    HKEY key = nullptr;
    if (CreateForWrite(root, subKey, key) != ERROR_SUCCESS)
        return -2;
    int result = 0;
    if (RegSetValueExA(key, valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(value),
                       sizeof(DWORD)) == ERROR_SUCCESS) {
        result = 1;
    } else {
        // Fall back to text only when the value already exists as text.
        std::string text = std::to_string(static_cast<unsigned long>(*value));
        StrBuf buf;
        DWORD size = kStrBufSize;
        DWORD type = REG_NONE;
        if (RegQueryValueExA(key, valueName.c_str(), nullptr, &type, buf.Bytes(), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
            result = SetText(key, valueName, text) == ERROR_SUCCESS ? 2 : -1;
    }
    RegCloseKey(key);
    return result;
}
