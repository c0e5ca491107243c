// RegOpenKeyExA, RegQueryValueExA, RegCreateKeyExA, RegSetValueExA and RegCloseKey: return
// codes, sizes, access rights and name rules that the probes depend on.
#include "api_env.h"

#include <cstdint>
#include <cstring>

using namespace apitest;

namespace {

std::string Sub(const std::string& tail) {
    return std::string(kScratchKey) + "\\" + tail;
}

std::string Le32(DWORD v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

using RegistryApi = ApiTest;

TEST_F(RegistryApi, MissingKeysAndValuesAndBufferSizes) {
    HKEY key = CreateKey(HKEY_CURRENT_USER, Sub("Sizes"));
    ASSERT_EQ(SetValue(key, "text", REG_SZ, std::string("hello\0", 6)), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key, "number", REG_DWORD, Le32(100)), ERROR_SUCCESS);

    HKEY missing = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sub("Nope").c_str(), 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(QueryValue(key, "nope").rc, ERROR_FILE_NOT_FOUND);

    // Too small a buffer: ERROR_MORE_DATA with the size needed and the type.
    const struct {
        const char* name;
        DWORD given;
        DWORD needed;
        DWORD type;
    } shortReads[] = {{"text", 3, 6, REG_SZ}, {"number", 2, 4, REG_DWORD}};
    for (const auto& c : shortReads) {
        BYTE buf[8] = {};
        DWORD size = c.given, type = REG_NONE;
        EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type, buf, &size), ERROR_MORE_DATA)
            << c.name;
        EXPECT_EQ(size, c.needed) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    // No buffer: the size alone.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "text", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    // A buffer of exactly that size, and a larger one: the size becomes what was copied.
    char exact[6];
    EXPECT_EQ(
        RegQueryValueExA(key, "text", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(exact, "hello\0", 6), 0);
    char large[260];
    size = sizeof large;
    EXPECT_EQ(
        RegQueryValueExA(key, "number", nullptr, nullptr, reinterpret_cast<BYTE*>(large), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(large, 4), Le32(100));
    // A buffer without its size.
    EXPECT_EQ(
        RegQueryValueExA(key, "text", nullptr, nullptr, reinterpret_cast<BYTE*>(exact), nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryApi, HandlesAndArguments) {
    HKEY key = CreateKey(HKEY_CURRENT_USER, Sub("Handles"));
    ASSERT_EQ(SetValue(key, "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(nullptr, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(QueryValue(key, "v").rc, ERROR_INVALID_HANDLE);
    // Closing a predefined key is allowed and changes nothing.
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sub("Handles").c_str(), 0, KEY_READ, &out),
              ERROR_SUCCESS);
    RegCloseKey(out);
    // Handles that were never open.
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7777770));
    EXPECT_EQ(RegOpenKeyExA(bogus, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(QueryValue(bogus, "v").rc, ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetValue(bogus, "x", REG_SZ, "a"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(bogus, "x", 0, nullptr, 0, KEY_WRITE, nullptr, &out, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
    // Bad arguments.
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "x", &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    HKEY writable = CreateKey(HKEY_CURRENT_USER, Sub("Handles"));
    EXPECT_EQ(RegSetValueExA(writable, "x", 0, REG_BINARY, nullptr, 4), 998L); // ERROR_NOACCESS
    RegCloseKey(writable);
    // A leading separator is a bad path.
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ("\\" + Sub("Lead")).c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &out, nullptr),
              161L); // ERROR_BAD_PATHNAME
}

TEST_F(RegistryApi, AccessRightsOfTheHandleAreEnforced) {
    HKEY writer = CreateKey(HKEY_CURRENT_USER, Sub("Rights"), KEY_WRITE);
    ASSERT_EQ(SetValue(writer, "v", REG_DWORD, Le32(100)), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(writer, "v").rc, ERROR_ACCESS_DENIED);
    RegCloseKey(writer);

    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sub("Rights").c_str(), 0, KEY_READ, &reader),
              ERROR_SUCCESS);
    EXPECT_EQ(SetValue(reader, "v", REG_DWORD, Le32(1)), ERROR_ACCESS_DENIED);
    EXPECT_EQ(QueryValue(reader, "v").data, Le32(100));
    RegCloseKey(reader);

    HKEY all = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Sub("Rights").c_str(), 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, &all),
              ERROR_SUCCESS);
    EXPECT_EQ(SetValue(all, "v", REG_DWORD, Le32(2)), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(all, "v").data, Le32(2));
    RegCloseKey(all);
}

TEST_F(RegistryApi, NamesAreCaseInsensitive) {
    HKEY key = CreateKey(HKEY_CURRENT_USER, Sub("MyApp\\Sub"));
    ASSERT_EQ(SetValue(key, "Name", REG_SZ, std::string("one\0", 4)), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key, "NAME", REG_SZ, std::string("two\0", 4)), ERROR_SUCCESS);
    RegCloseKey(key);

    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\queldawinapitests\\myapp\\sUB", 0,
                            KEY_READ, &again),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(again, "name").data, std::string("two\0", 4));
    RegCloseKey(again);

    const struct {
        const char* path;
        DWORD disposition;
    } creates[] = {
        {"software\\QUELDAWINAPITESTS\\MYAPP\\sub\\New", REG_CREATED_NEW_KEY},
        {"Software\\QueldaWinApiTests\\MyApp\\Sub\\new", REG_OPENED_EXISTING_KEY},
    };
    for (const auto& c : creates) {
        DWORD disposition = 0;
        HKEY created = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, c.path, 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &created, &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, c.disposition) << c.path;
        RegCloseKey(created);
    }
}

TEST_F(RegistryApi, SubKeysOpenRelativeToAHandle) {
    HKEY parent = CreateKey(HKEY_CURRENT_USER, Sub("Parent"));
    HKEY child = CreateKey(parent, "Child\\Grandchild");
    ASSERT_EQ(SetValue(child, "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
    HKEY same = nullptr;
    ASSERT_EQ(RegOpenKeyExA(child, "", 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, child);
    EXPECT_EQ(QueryValue(same, "v").data, std::string("x\0", 2));
    HKEY viaParent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(parent, "child\\GRANDCHILD", 0, KEY_READ, &viaParent), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(viaParent, "v").rc, ERROR_SUCCESS);
    for (HKEY k : {parent, child, same, viaParent})
        EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(RegistryApi, ValuesKeepTheirBytesAndTypes) {
    HKEY key = CreateKey(HKEY_CURRENT_USER, Sub("Values"));
    const std::string same; // read back as written
    const struct {
        const char* name;
        DWORD type;
        std::string bytes;
        std::string readBack;
    } cases[] = {
        {"terminated", REG_SZ, std::string("abc\0", 4), same},
        // RegSetValueExA terminates a string that its caller left unterminated.
        {"unterminated", REG_SZ, "abc", std::string("abc\0", 4)},
        {"unterminated multi", REG_MULTI_SZ, std::string("a\0b", 3), std::string("a\0b\0", 4)},
        {"empty", REG_SZ, "", same},
        {"lines", REG_SZ, std::string("a\r\nb\0", 5), same},
        {"binary", REG_BINARY, std::string("\x01\x00\xff", 3), same},
        {"number", REG_DWORD, Le32(10912), same},
        {"", REG_SZ, std::string("default\0", 8), same}, // the key's unnamed value
    };
    for (const auto& c : cases)
        ASSERT_EQ(SetValue(key, c.name, c.type, c.bytes), ERROR_SUCCESS) << c.name;
    for (const auto& c : cases) {
        const Query q = QueryValue(key, c.name);
        EXPECT_EQ(q.rc, ERROR_SUCCESS) << c.name;
        EXPECT_EQ(q.type, c.type) << c.name;
        EXPECT_EQ(q.data, c.readBack.empty() ? c.bytes : c.readBack) << c.name;
    }
    // A null name is the unnamed value too.
    EXPECT_EQ(QueryValue(key, nullptr).data, std::string("default\0", 8));
    // Writing a name again replaces type and data.
    ASSERT_EQ(SetValue(key, "terminated", REG_DWORD, Le32(3)), ERROR_SUCCESS);
    const Query replaced = QueryValue(key, "terminated");
    EXPECT_EQ(replaced.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(replaced.data, Le32(3));
    RegCloseKey(key);
}

TEST_F(RegistryApi, ChineseKeyValueNamesAndDataInTheAnsiCodePage) {
    if (!AnsiIsGbk())
        GTEST_SKIP() << "the ANSI code page is not GBK";
    const std::string keyName = Sub(Gbk("证书驱动"));
    HKEY key = CreateKey(HKEY_CURRENT_USER, keyName);
    const std::string name = Gbk("安装路径");
    const std::string data = Gbk("C:\\Program Files\\工具") + '\0';
    ASSERT_EQ(SetValue(key, name.c_str(), REG_SZ, data), ERROR_SUCCESS);
    RegCloseKey(key);
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, KEY_READ, &again),
              ERROR_SUCCESS);
    const Query q = QueryValue(again, name.c_str());
    EXPECT_EQ(q.rc, ERROR_SUCCESS);
    EXPECT_EQ(q.data, data);
    RegCloseKey(again);
}

// A 64-bit Windows keeps 32-bit programs' HKLM\Software apart, and KEY_WOW64_32KEY /
// KEY_WOW64_64KEY pick the view whatever the program's own.
TEST_F(RegistryApi, Wow64FlagsPickTheRegistryView) {
    if (!UseA64BitWindows())
        GTEST_SKIP() << "a 32-bit Windows has a single registry view";
    const std::string key = "Software\\QueldaWinApiTests\\View";
    const std::pair<REGSAM, const char*> views[] = {{KEY_WOW64_32KEY, "32"},
                                                    {KEY_WOW64_64KEY, "64"}};
    for (const auto& v : views) {
        HKEY h = CreateKey(HKEY_LOCAL_MACHINE, key, KEY_WRITE | v.first);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(SetValue(h, "Which", REG_SZ, std::string(v.second) + '\0'), ERROR_SUCCESS);
        RegCloseKey(h);
    }
#ifdef _WIN64
    const char* own = "64";
#else
    const char* own = "32";
#endif
    const std::pair<REGSAM, const char*> reads[] = {
        {KEY_WOW64_32KEY, "32"}, {KEY_WOW64_64KEY, "64"}, {0, own}};
    for (const auto& r : reads) {
        HKEY h = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | r.first, &h),
                  ERROR_SUCCESS);
        EXPECT_EQ(QueryValue(h, "Which").data, std::string(r.second) + '\0') << r.first;
        RegCloseKey(h);
    }
}

} // namespace
