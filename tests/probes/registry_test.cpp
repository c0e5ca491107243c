#include "probe_test_env.h"
#include "probes/registry.h"
#include "probes/windows_bits.h"
#include "registry_calls.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

using namespace probetest;

namespace {
const char kTestKey[] = "Software\\QueldaProbeTests";
const char kToolKey[] = "Software\\QueldaProbeTests\\Tool";

class RegistryHelpers : public ::testing::Test {
  protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_CURRENT_USER, kTestKey);
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kTestKey);
    }
    void TearDown() override { SetUp(); }
    TempMachine machine;
};

struct SplitCase {
    const char* path;
    int result;
    const char* root;
    const char* subKey;
};

TEST(SplitRegPath, SplitsAfterTheComputerLabel) {
    const SplitCase cases[] = {
        {"计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B", 1, "HKEY_LOCAL_MACHINE", "SOFTWARE\\A\\B"},
        {"Computer\\HKEY_USERS\\", 1, "HKEY_USERS", ""},
        // The first component is always dropped, even when it is a root name.
        {"HKEY_CURRENT_USER\\Software\\X", 1, "Software", "X"},
        {"Computer\\HKEY_CURRENT_USER\\Software\\\\X", 1, "HKEY_CURRENT_USER", "Software\\\\X"},
        {"HKEY_USERS", -1, "unchanged", "unchanged"},
        {"Computer\\HKEY_USERS", -1, "unchanged", "unchanged"},
        {"", -1, "unchanged", "unchanged"},
    };
    for (const auto& c : cases) {
        std::string root = "unchanged", subKey = "unchanged";
        EXPECT_EQ(SplitRegPath(c.path, root, subKey), c.result) << c.path;
        EXPECT_EQ(root, c.root) << c.path;
        EXPECT_EQ(subKey, c.subKey) << c.path;
    }
}

TEST(RegRootTable, HoldsTheTenPredefinedRootsAndMatchesExactly) {
    const auto& table = RegRootTable();
    EXPECT_EQ(table.size(), 10u);
    const std::pair<const char*, uint32_t> roots[] = {
        {"HKEY_CLASSES_ROOT", 0x80000000u},     {"HKEY_CURRENT_USER", 0x80000001u},
        {"HKEY_LOCAL_MACHINE", 0x80000002u},    {"HKEY_USERS", 0x80000003u},
        {"HKEY_PERFORMANCE_DATA", 0x80000004u}, {"HKEY_CURRENT_CONFIG", 0x80000005u},
        {"HKEY_DYN_DATA", 0x80000006u},         {"HKEY_CURRENT_USER_LOCAL_SETTINGS", 0x80000007u},
        {"HKEY_PERFORMANCE_TEXT", 0x80000050u}, {"HKEY_PERFORMANCE_NLSTEXT", 0x80000060u},
    };
    // 64-bit Windows sign-extends the predefined handles; their low 32 bits are the values.
    for (const auto& r : roots)
        EXPECT_EQ(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(RegRootKey(r.first))), r.second)
            << r.first;
    for (const char* name : {"hkey_local_machine", "HKLM", "HKEY_LOCAL_MACHINE ", ""})
        EXPECT_EQ(RegRootKey(name), nullptr) << name;
}

TEST_F(RegistryHelpers, UnknownRootNameFailsAtTheOpenStep) {
    PutString(HKEY_CURRENT_USER, kToolKey, "Path", "C:\\Tool");
    std::string value;
    EXPECT_EQ(RegGetStrValue(RegRootKey("hkey_current_user"), kToolKey, "Path", value), -3);
    EXPECT_EQ(value, "");
    EXPECT_EQ(RegKeyExists(RegRootKey("hkey_current_user"), kToolKey), -1);
    EXPECT_EQ(RegGetStrValue(RegRootKey("HKEY_CURRENT_USER"), kToolKey, "Path", value), 0);
    EXPECT_EQ(value, "C:\\Tool");
}

TEST_F(RegistryHelpers, KeyExistsOnlyForAKeyThatOpens) {
    MakeKey(HKEY_CURRENT_USER, kToolKey);
    EXPECT_EQ(RegKeyExists(HKEY_CURRENT_USER, kToolKey), 1);
    EXPECT_EQ(RegKeyExists(HKEY_CURRENT_USER, "Software\\QueldaProbeTests\\Missing"), -1);
    EXPECT_EQ(RegKeyExists(HKEY_LOCAL_MACHINE, kToolKey), -1);
}

TEST_F(RegistryHelpers, GetStrValueAppendsTheTextAndReportsEachFailure) {
    PutString(HKEY_CURRENT_USER, kToolKey, "InstallDir", "C:\\Program Files\\Tool");
    std::string value = "prefix:";
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "InstallDir", value), 0);
    EXPECT_EQ(value, "prefix:C:\\Program Files\\Tool");

    value = "kept";
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "Missing", value), -2);
    EXPECT_EQ(
        RegGetStrValue(HKEY_CURRENT_USER, "Software\\QueldaProbeTests\\None", "InstallDir", value),
        -3);
    EXPECT_EQ(value, "kept");
}

TEST_F(RegistryHelpers, GetStrValueConvertsNamesToGbkAndReturnsGbkData) {
    const std::string subKeyGbk = "Software\\QueldaProbeTests\\\xC8\xED\xBC\xFE"; // 软件
    const std::string nameGbk = "\xB0\xB2\xD7\xB0\xC4\xBF\xC2\xBC";               // 安装目录
    const std::string dataGbk = "D:\\\xD6\xD0\xCE\xC4";                           // D:\中文
    PutString(HKEY_CURRENT_USER, subKeyGbk, nameGbk, dataGbk);
    std::string value;
    EXPECT_EQ(
        RegGetStrValue(HKEY_CURRENT_USER, "Software\\QueldaProbeTests\\软件", "安装目录", value),
        0);
    EXPECT_EQ(value, dataGbk);
}

TEST_F(RegistryHelpers, GetStrValueReadsTheUnnamedValueForTheDefaultLabel) {
    PutString(HKEY_CURRENT_USER, kToolKey, "", "unnamed");
    PutString(HKEY_CURRENT_USER, kToolKey, "Named", "named");
    for (const char* name : {"(默认)", "默认", "x默认y"}) {
        std::string value;
        EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, name, value), 0) << name;
        EXPECT_EQ(value, "unnamed") << name;
    }
    std::string value;
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "默", value), -2);
}

TEST_F(RegistryHelpers, GetStrValueUsesA260ByteBuffer) {
    const std::string fits(259, 'a'); // 259 characters and the NUL fill the buffer
    const std::string tooLong(300, 'b');
    PutString(HKEY_CURRENT_USER, kToolKey, "Fits", fits);
    PutString(HKEY_CURRENT_USER, kToolKey, "TooLong", tooLong);
    std::string value;
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "Fits", value), 0);
    EXPECT_EQ(value, fits);
    value.clear();
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "TooLong", value), -2);
    EXPECT_EQ(value, "");
}

TEST_F(RegistryHelpers, GetStrValueOnANumberGivesItsBytesUpToTheFirstZero) {
    PutDword(HKEY_CURRENT_USER, kToolKey, "Short", 0x00003231); // '1' '2' 0 0
    PutDword(HKEY_CURRENT_USER, kToolKey, "Full", 0x41424344);  // 'D' 'C' 'B' 'A'
    std::string value;
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "Short", value), 0);
    EXPECT_EQ(value, "12");
    value.clear();
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, kToolKey, "Full", value), 0);
    EXPECT_EQ(value, "DCBA");
}

// A document's install location is read in the 64-bit view, and in the 32-bit view (where a
// 32-bit installer's HKLM\SOFTWARE\Vendor lands) only where the 64-bit view lacks it. The
// .NET key check looks in its own (32-bit) view first, then in the 64-bit one.
TEST_F(RegistryHelpers, LocationsAreReadInThe64BitViewThenInThe32BitOne) {
    if (!UseA64BitWindows())
        GTEST_SKIP() << "a 32-bit Windows has a single registry view";
#ifdef _WIN64
    // The program is a 32-bit one, whose plain HKLM\SOFTWARE is the 32-bit view; a 64-bit
    // build of the tests (hosts that cannot run 32-bit code) reads the other view by default.
    GTEST_SKIP() << "the views as a 32-bit program sees them";
#endif
    const struct {
        const char* what;
        const char* in64; // nullptr: no key in that view; "": the key without the value
        const char* in32;
        int result;
        const char* found;
        RegView from;
    } cases[] = {
        {"64-bit view only", "64", nullptr, 0, "64", RegView::Bits64},
        {"32-bit view only", nullptr, "32", 0, "32", RegView::Bits32},
        {"both views: the 64-bit value wins", "64", "32", 0, "64", RegView::Bits64},
        {"the 64-bit key lacks the value", "", "32", 0, "32", RegView::Bits32},
        {"neither value: the 64-bit view's code", "", "", -2, "", RegView::Bits64},
        {"no key at all", nullptr, nullptr, -3, "", RegView::Bits64},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string key = std::string(kTestKey) + "\\Case" + std::to_string(index++);
        for (const auto& [view, text] :
             {std::pair<REGSAM, const char*>{KEY_WOW64_64KEY, c.in64}, {KEY_WOW64_32KEY, c.in32}}) {
            if (!text)
                continue;
            HKEY h = CreateKey(HKEY_LOCAL_MACHINE, key, KEY_WRITE | view);
            ASSERT_NE(h, nullptr) << c.what;
            if (*text)
                SetValue(h, "InstallPath", REG_SZ, std::string(text) + '\0');
            RegCloseKey(h);
        }
        std::string value;
        RegView from = RegView::Single;
        EXPECT_EQ(RegGetStrValueEitherView(HKEY_LOCAL_MACHINE, key, "InstallPath", value, &from),
                  c.result)
            << c.what;
        EXPECT_EQ(value, c.found) << c.what;
        EXPECT_EQ(from, c.from) << c.what;
        std::string only64;
        EXPECT_EQ(RegGetStrValue(HKEY_LOCAL_MACHINE, key, "InstallPath", only64) == 0,
                  c.in64 && *c.in64)
            << c.what;

        RegView keyFrom = RegView::Single;
        EXPECT_EQ(RegKeyExistsEitherView(HKEY_LOCAL_MACHINE, key, &keyFrom),
                  c.in64 || c.in32 ? 1 : -1)
            << c.what;
        EXPECT_EQ(keyFrom, c.in32 || !c.in64 ? RegView::Bits32 : RegView::Bits64) << c.what;
    }
}

TEST_F(RegistryHelpers, ASingleViewIsLookedUpOnce) {
    if (WindowsIs64Bit())
        GTEST_SKIP() << "a 64-bit Windows has two registry views";
    PutString(HKEY_LOCAL_MACHINE, kToolKey, "InstallPath", "C:\\Tool");
    std::string value;
    RegView from = RegView::Bits32;
    EXPECT_EQ(RegGetStrValueEitherView(HKEY_LOCAL_MACHINE, kToolKey, "InstallPath", value, &from),
              0);
    EXPECT_EQ(value, "C:\\Tool");
    EXPECT_EQ(from, RegView::Single);
    from = RegView::Bits32;
    EXPECT_EQ(RegGetStrValueEitherView(HKEY_LOCAL_MACHINE, kToolKey, "Missing", value, &from), -2);
    EXPECT_EQ(from, RegView::Single);
    EXPECT_EQ(RegKeyExistsEitherView(HKEY_LOCAL_MACHINE, kTestKey, &from), 1);
    EXPECT_EQ(from, RegView::Single);
}

struct DwordCase {
    const char* what;
    DWORD type; // REG_NONE: the value is not created
    std::vector<BYTE> data;
    int result;
    DWORD value;
};

TEST_F(RegistryHelpers, GetDwordValueReadsNumbersAndNumericText) {
    const DWORD sentinel = 0xDEADBEEF;
    const DwordCase cases[] = {
        {"number", REG_DWORD, DwordBytes(7), 1, 7},
        {"text 3", REG_SZ, {'3', 0}, 2, 3},
        {"text 100", REG_SZ, {'1', '0', '0', 0}, 2, 100},
        {"text 10912 (longer than four bytes)", REG_SZ, {'1', '0', '9', '1', '2', 0}, 2, 10912},
        {"text without digits", REG_SZ, {'a', 'b', 0}, 2, 0},
        {"short binary", REG_BINARY, {3, 0}, -1, sentinel},
        {"multi-string", REG_MULTI_SZ, {'3', 0, 0}, -1, sentinel},
        {"binary longer than four bytes", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}, -2, sentinel},
        {"missing value", REG_NONE, {}, -2, sentinel},
    };
    MakeKey(HKEY_CURRENT_USER, kToolKey);
    int index = 0;
    for (const auto& c : cases) {
        const std::string name = "Value" + std::to_string(index++); // one value per case
        if (c.type != REG_NONE)
            PutValue(HKEY_CURRENT_USER, kToolKey, name, c.type, c.data.data(),
                     static_cast<DWORD>(c.data.size()));
        DWORD value = sentinel;
        EXPECT_EQ(RegGetDwordValue(HKEY_CURRENT_USER, kToolKey, name, value), c.result) << c.what;
        EXPECT_EQ(value, c.value) << c.what;
    }
    DWORD value = sentinel;
    EXPECT_EQ(
        RegGetDwordValue(HKEY_CURRENT_USER, "Software\\QueldaProbeTests\\None", "Value", value),
        -3);
    EXPECT_EQ(value, sentinel);
}
TEST_F(RegistryHelpers, SetStrValueCreatesTheKeyAndCountsTheTerminator) {
    const char* nested = "Software\\QueldaProbeTests\\a\\b";
    EXPECT_EQ(RegSetStrValue(HKEY_CURRENT_USER, nested, "URL Protocol", "alert"), 1);
    RawValue raw = ReadValue(HKEY_CURRENT_USER, nested, "URL Protocol");
    ASSERT_TRUE(raw.found);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.data, (std::vector<BYTE>{'a', 'l', 'e', 'r', 't', 0}));

    EXPECT_EQ(RegSetStrValue(HKEY_CURRENT_USER, nested, "", "unnamed"), 1);
    std::string value;
    EXPECT_EQ(RegGetStrValue(HKEY_CURRENT_USER, nested, "(默认)", value), 0);
    EXPECT_EQ(value, "unnamed");

    EXPECT_EQ(RegSetStrValue(RegRootKey("hkey_current_user"), nested, "x", "y"), -2);
}

TEST_F(RegistryHelpers, SetDwordValueWritesANumberReplacingText) {
    PutString(HKEY_CURRENT_USER, kToolKey, "SyncMode5", "1");
    const DWORD three = 3;
    EXPECT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, kToolKey, "SyncMode5", &three), 1);
    RawValue raw = ReadValue(HKEY_CURRENT_USER, kToolKey, "SyncMode5");
    ASSERT_TRUE(raw.found);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw.data, DwordBytes(3));

    const char* fresh = "Software\\QueldaProbeTests\\Fresh\\Key";
    EXPECT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, fresh, "Limit", &three), 1);
    DWORD value = 0;
    EXPECT_EQ(RegGetDwordValue(HKEY_CURRENT_USER, fresh, "Limit", value), 1);
    EXPECT_EQ(value, 3u);

    EXPECT_EQ(RegSetDwordValue(RegRootKey("HKLM"), kToolKey, "Limit", &three), -2);
    EXPECT_EQ(RegSetDwordValue(HKEY_CURRENT_USER, kToolKey, "Limit", nullptr), 0);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kToolKey, "Limit").found);
}

} // namespace
