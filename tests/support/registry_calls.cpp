#include "registry_calls.h"

#include <gtest/gtest.h>

HKEY CreateKey(HKEY root, const std::string& subKey, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << subKey;
    return key;
}

LONG SetValue(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
}

Query QueryValue(HKEY key, const char* name) {
    Query q;
    DWORD size = 0;
    q.rc = RegQueryValueExA(key, name, nullptr, &q.type, nullptr, &size);
    if (q.rc != ERROR_SUCCESS)
        return q;
    std::string buf(size, '\0');
    q.rc = RegQueryValueExA(key, name, nullptr, &q.type, reinterpret_cast<BYTE*>(&buf[0]), &size);
    q.data = buf.substr(0, size);
    return q;
}
