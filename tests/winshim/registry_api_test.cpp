// RegOpenKeyExA, RegQueryValueExA, RegCreateKeyExA, RegSetValueExA and RegCloseKey against a
// real registry file in a temporary machine folder.
#include "reg_store.h"
#include "registry_calls.h"
#include "registry_test_util.h"
#include "temp_machine.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

namespace {

const std::string kExport = "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Tool]\r\n"
                            "@=\"默认\"\r\n"
                            "\"InstallPath\"=\"C:\\\\Program Files\\\\工具\"\r\n"
                            "\"Mode\"=dword:00000003\r\n"
                            "\"Home\"=hex(2):25,00,41,00,25,00,5c,00,2d,4e,00,00\r\n";

} // namespace

TEST(RegistryApi, EveryTypeRoundTripsThroughTheApiAndTheFile) {
    TempMachine machine;
    HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Quelda\\Round");
    ASSERT_NE(key, nullptr);
    const std::string sz = "C:\\" + kGbkChinese + std::string("\0", 1);
    const std::string multi = std::string("a\0", 2) + kGbkChinese + std::string("\0\0", 2);
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    } cases[] = {
        {"sz", REG_SZ, sz},
        {"sz without terminator", REG_SZ, "abc"},
        {"expand", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
        {"multi", REG_MULTI_SZ, multi},
        {"dword", REG_DWORD, std::string("\x0a\x00\x00\x80", 4)},
        {"qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"binary", REG_BINARY, std::string("\x00\xff\x10", 3)},
        {"none", REG_NONE, ""},
        {"", REG_SZ, std::string("default\0", 8)},
        {kGbkChinese.c_str(), REG_DWORD, std::string("\x01\x00\x00\x00", 4)},
    };
    for (const Case& c : cases)
        ASSERT_EQ(SetValue(key, c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // The file holds text that a person (and regedit) can read: UTF-16 as regedit saves.
    const std::string raw = ReadBytes(RegistryFile(machine.dir()));
    EXPECT_EQ(raw.compare(0, 2, "\xFF\xFE"), 0);
    std::string file = RegFileText(raw);
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\Quelda\\Round]"), std::string::npos);
    EXPECT_NE(file.find("\"sz\"=\"C:\\\\中文\""), std::string::npos) << file;
    EXPECT_NE(file.find("\"dword\"=dword:8000000a"), std::string::npos) << file;
    EXPECT_NE(file.find("\"中文\"=dword:00000001"), std::string::npos) << file;
    EXPECT_NE(file.find("@=\"default\""), std::string::npos) << file;

    // Read back through a new handle after the file was re-read from disk, in the UTF-8 form
    // that earlier versions wrote.
    WriteText(RegistryFile(machine.dir()), file + "\n");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quelda\\Round", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    for (const Case& c : cases) {
        Query q = QueryValue(key, c.name);
        EXPECT_EQ(q.rc, ERROR_SUCCESS) << c.name;
        EXPECT_EQ(q.type, c.type) << c.name;
        // RegSetValueExA terminated the one string given without its terminator.
        const bool unterminated = c.type == REG_SZ && c.data == "abc";
        EXPECT_EQ(q.data, unterminated ? std::string("abc\0", 4) : c.data) << c.name;
    }
    EXPECT_EQ(QueryValue(key, nullptr).data, std::string("default\0", 8));
    RegCloseKey(key);
}

TEST(RegistryApi, ReadsARegeditExportDroppedIntoTheMachine) {
    TempMachine machine;
    // UTF-16LE with a byte-order mark and CRLF, as regedit saves; "Home" spells "%A%\中".
    winshim::reg::Bytes body = winshim::reg::Utf8ToUtf16Le(kExport);
    WriteText(RegistryFile(machine.dir()), "\xFF\xFE" + std::string(body.begin(), body.end()));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Tool", 0,
                            KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    Query path = QueryValue(key, "InstallPath");
    EXPECT_EQ(path.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(path.data, "C:\\Program Files\\\xB9\xA4\xBE\xDF" + std::string("\0", 1)); // 工具
    Query def = QueryValue(key, "");
    EXPECT_EQ(def.data, "\xC4\xAC\xC8\xCF" + std::string("\0", 1)); // 默认
    Query home = QueryValue(key, "Home");
    EXPECT_EQ(home.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(home.data, "%A%\\\xD6\xD0" + std::string("\0", 1));
    DWORD mode = 0, size = sizeof mode, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "mode", nullptr, &type, reinterpret_cast<BYTE*>(&mode), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(mode, 3u);
    RegCloseKey(key);
}

// The names' rules are checked through the Windows API suite; here, what reaches the file.
TEST(RegistryApi, TheFileKeepsTheFirstCaseOfANameAndTheLastData) {
    TempMachine machine;
    HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\MyApp\\Sub");
    ASSERT_EQ(SetValue(key, "Name", REG_SZ, std::string("one\0", 4)), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key, "NAME", REG_SZ, std::string("two\0", 4)), ERROR_SUCCESS);
    RegCloseKey(key);
    HKEY created = CreateKey(HKEY_CURRENT_USER, "software\\MYAPP\\sub\\New", KEY_WRITE);
    ASSERT_NE(created, nullptr);
    RegCloseKey(created);

    std::string file = RegFileText(ReadBytes(RegistryFile(machine.dir())));
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\MyApp\\Sub\\New]"), std::string::npos);
    EXPECT_NE(file.find("\"Name\"=\"two\""), std::string::npos) << file;
    EXPECT_EQ(file.find("NAME"), std::string::npos) << file;
}

TEST(RegistryApi, AKeyDeletedUnderAnOpenHandleReportsIt) {
    TempMachine machine;
    HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Doomed");
    ASSERT_EQ(winshim::reg::ModifyRegistry([](winshim::reg::RegModel& m, bool* changed) -> long {
                  *changed = m.DeleteTree("HKEY_CURRENT_USER\\Software\\Doomed");
                  return ERROR_SUCCESS;
              }),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(key, "v").rc, ERROR_KEY_DELETED);
    EXPECT_EQ(SetValue(key, "v", REG_SZ, "a"), ERROR_KEY_DELETED);
    RegCloseKey(key);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Doomed", 0, KEY_READ, &gone),
              ERROR_FILE_NOT_FOUND);
}

TEST(RegistryApi, AMissingFileOrFolderIsAnEmptyRegistry) {
    TempMachine machine;
    std::filesystem::path nested = machine.dir() / "not" / "yet";
    setenv("QUELDA_MACHINE", nested.c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(nested)); // reading creates nothing
    key = CreateKey(HKEY_CURRENT_USER, "Software\\First");
    ASSERT_NE(key, nullptr);
    RegCloseKey(key);
    EXPECT_TRUE(std::filesystem::exists(nested / "registry.reg"));
    setenv("QUELDA_MACHINE", machine.dir().c_str(), 1);
}

TEST(RegistryApi, ACorruptFileFailsEveryCallAndIsNeverWritten) {
    TempMachine machine;
    const std::string corrupt = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_CURRENT_USER\\Software\\A]\n"
                                "\"v\"=dword:zz\n"
                                "\"w\"=\"fine\"\n";
    WriteText(RegistryFile(machine.dir()), corrupt);

    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\B", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(SetValue(HKEY_CURRENT_USER, "x", REG_SZ, std::string("y\0", 2)), ERROR_BADDB);
    EXPECT_EQ(QueryValue(HKEY_CURRENT_USER, "x").rc, ERROR_BADDB);
    EXPECT_EQ(ReadBytes(RegistryFile(machine.dir())), corrupt);

    winshim::reg::ParseError error;
    EXPECT_EQ(winshim::reg::ReadRegistry([](const winshim::reg::RegModel&) { return 0L; }, &error),
              ERROR_BADDB);
    EXPECT_EQ(error.line, 4);
    EXPECT_NE(error.message.find("dword"), std::string::npos) << error.message;
}

// Wine faults on a null key out-parameter and answers ERROR_MORE_DATA to a key name longer
// than 255 characters; the stand-in refuses both as bad parameters.
TEST(RegistryApi, ANullKeyOutAndAnOverlongNameAreRefused) {
    TempMachine machine;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    HKEY out = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &out, nullptr),
              ERROR_INVALID_PARAMETER);
}

// Windows takes a line break in a name; the file cannot hold one, so the stand-in refuses it
// and writes nothing.
TEST(RegistryApi, ALineBreakInANameIsRefused) {
    TempMachine machine;
    HKEY key = CreateKey(HKEY_CURRENT_USER, "Software\\Strings");
    EXPECT_EQ(SetValue(key, "bad\nname", REG_SZ, "x"), ERROR_INVALID_PARAMETER);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExA(key, "bad\nkey", 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
    EXPECT_EQ(ReadBytes(RegistryFile(machine.dir())).find("bad"), std::string::npos);
}
