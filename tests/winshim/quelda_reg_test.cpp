// quelda-reg, run as the built program against a temporary machine folder.
#include "registry_test_util.h"
#include "temp_machine.h"

#include "reg_parse.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

fs::path Tool() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "quelda-reg";
}

// Runs quelda-reg with args (UTF-8), feeding input on stdin.
ToolRun Reg(const std::vector<std::string>& args, const std::string& input = "") {
    static int counter = 0;
    fs::path dir = fs::temp_directory_path() /
                   ("quelda-reg-run-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
    fs::create_directories(dir);
    WriteText(dir / "in", input);
    std::string cmd = Quote(Tool().string());
    for (const std::string& a : args)
        cmd += " " + Quote(a);
    cmd += " <" + Quote((dir / "in").string()) + " >" + Quote((dir / "out").string()) + " 2>" +
           Quote((dir / "err").string());
    ToolRun run;
    int raw = std::system(cmd.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadBytes(dir / "out");
    run.err = ReadBytes(dir / "err");
    fs::remove_all(dir);
    return run;
}

std::string ApiQuery(const char* key, const char* name, DWORD* type) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    char buf[300];
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExA(h, name, nullptr, type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? std::string(buf, size) : "<no value>";
}

const char kDone[] = "The operation completed successfully.\n";
const char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";

class QueldaReg : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(fs::exists(Tool())) << "build quelda-reg: " << Tool(); }
    TempMachine machine;
};

} // namespace

TEST_F(QueldaReg, AddedValuesReadBackThroughTheApiAndQuery) {
    struct Case {
        std::vector<std::string> args; // after "add KEY /v NAME"
        DWORD type;
        std::string apiData;  // as RegQueryValueExA returns it (GBK strings)
        std::string typeName; // as query prints them
        std::string shown;
    } cases[] = {
        {{"/d", "C:\\工具"},
         REG_SZ,
         "C:\\\xB9\xA4\xBE\xDF" + std::string("\0", 1),
         "REG_SZ",
         "C:\\工具"},
        {{"/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x"},
         REG_EXPAND_SZ,
         std::string("%TEMP%\\x\0", 9),
         "REG_EXPAND_SZ",
         "%TEMP%\\x"},
        {{"/t", "REG_MULTI_SZ", "/d", "a\\0bc"},
         REG_MULTI_SZ,
         std::string("a\0bc\0\0", 6),
         "REG_MULTI_SZ",
         "a\\0bc"},
        {{"/t", "REG_MULTI_SZ", "/s", ";", "/d", "a;b"},
         REG_MULTI_SZ,
         std::string("a\0b\0\0", 5),
         "REG_MULTI_SZ",
         "a\\0b"},
        {{"/t", "reg_dword", "/d", "10912"},
         REG_DWORD,
         std::string("\xA0\x2A\0\0", 4),
         "REG_DWORD",
         "0x2aa0"},
        {{"/t", "REG_DWORD", "/d", "0xFFFFFFFF"},
         REG_DWORD,
         "\xFF\xFF\xFF\xFF",
         "REG_DWORD",
         "0xffffffff"},
        {{"/t", "REG_QWORD", "/d", "0x100000000"},
         REG_QWORD,
         std::string("\0\0\0\0\1\0\0\0", 8),
         "REG_QWORD",
         "0x100000000"},
        {{"/t", "REG_BINARY", "/d", "00ff10"},
         REG_BINARY,
         std::string("\0\xFF\x10", 3),
         "REG_BINARY",
         "00FF10"},
        {{"/t", "REG_NONE", "/d", "ab"}, REG_NONE, "\xAB", "REG_NONE", "AB"},
        {{}, REG_SZ, std::string("\0", 1), "REG_SZ", ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "v" + std::to_string(n++);
        SCOPED_TRACE(name);
        std::vector<std::string> args = {"add", "HKLM\\SOFTWARE\\Vendor\\Tool", "/v", name};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun add = Reg(args);
        ASSERT_EQ(add.status, 0) << add.err;
        EXPECT_EQ(add.out, kDone);
        DWORD type = 0;
        EXPECT_EQ(ApiQuery("SOFTWARE\\Vendor\\Tool", name.c_str(), &type), c.apiData);
        EXPECT_EQ(type, c.type);
        ToolRun query = Reg({"query", "hklm\\software\\vendor\\tool", "/v", name});
        EXPECT_EQ(query.status, 0) << query.err;
        EXPECT_EQ(query.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Tool\n    " + name + "    " +
                                 c.typeName + "    " + c.shown + "\n\n");
    }
}

TEST_F(QueldaReg, QueryListsValuesAndSubkeysAndDeleteRemovesThem) {
    ASSERT_EQ(Reg({"add", "HKCU\\Software\\App", "/ve", "/d", "main"}).status, 0);
    ASSERT_EQ(
        Reg({"add", "HKCU\\Software\\App", "/v", "Mode", "/t", "REG_DWORD", "/d", "3"}).status, 0);
    ASSERT_EQ(Reg({"add", "HKEY_CURRENT_USER\\Software\\App\\Child"}).status, 0);
    ToolRun query = Reg({"query", "HKCU\\Software\\App"});
    EXPECT_EQ(query.status, 0);
    EXPECT_EQ(query.out, "\nHKEY_CURRENT_USER\\Software\\App\n"
                         "    (Default)    REG_SZ    main\n"
                         "    Mode    REG_DWORD    0x3\n"
                         "\n"
                         "HKEY_CURRENT_USER\\Software\\App\\Child\n");

    ToolRun del = Reg({"delete", "HKCU\\Software\\App", "/v", "mode", "/f"});
    EXPECT_EQ(del.status, 0) << del.err;
    ToolRun gone = Reg({"query", "HKCU\\Software\\App", "/v", "Mode"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find(kNotFound), std::string::npos);
    EXPECT_EQ(Reg({"delete", "HKCU\\Software\\App", "/ve", "/f"}).status, 0);
    EXPECT_EQ(Reg({"query", "HKCU\\Software\\App", "/ve"}).status, 1);

    EXPECT_EQ(Reg({"delete", "HKCU\\Software\\App", "/f"}).status, 0);
    EXPECT_EQ(Reg({"query", "HKCU\\Software\\App\\Child"}).status, 1);
    EXPECT_EQ(Reg({"query", "HKCU\\Software"}).status, 0);
}

TEST_F(QueldaReg, AsksBeforeOverwritingOrDeletingWithoutF) {
    ASSERT_EQ(Reg({"add", "HKCU\\A", "/v", "x", "/d", "old"}).status, 0);
    ToolRun no = Reg({"add", "HKCU\\A", "/v", "X", "/d", "new"}, "no\n");
    EXPECT_EQ(no.status, 1);
    EXPECT_NE(no.out.find("Value X exists, overwrite"), std::string::npos) << no.out;
    EXPECT_NE(Reg({"query", "HKCU\\A", "/v", "x"}).out.find("old"), std::string::npos);
    ToolRun yes = Reg({"add", "HKCU\\A", "/v", "X", "/d", "new"}, "yes\n");
    EXPECT_EQ(yes.status, 0);
    EXPECT_NE(Reg({"query", "HKCU\\A", "/v", "x"}).out.find("    x    REG_SZ    new"),
              std::string::npos);
    EXPECT_EQ(Reg({"delete", "HKCU\\A"}, "").status, 1); // no answer: nothing deleted
    EXPECT_EQ(Reg({"query", "HKCU\\A"}).status, 0);
    EXPECT_EQ(Reg({"delete", "HKCU\\A"}, "y\n").status, 0);
    EXPECT_EQ(Reg({"query", "HKCU\\A"}).status, 1);
}

TEST_F(QueldaReg, ImportAppliesAFileWithDeletionsAndExportReadsBack) {
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Old\\Deep", "/v", "x", "/d", "1"}).status, 0);
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Keep", "/v", "drop", "/d", "1"}).status, 0);
    ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Keep", "/v", "stay", "/d", "1"}).status, 0);
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\r\n"
                             "\"drop\"=-\r\n"
                             "\"new\"=hex(2):41,00,42,00,00,00\r\n";
    winshim::reg::Bytes utf16 = winshim::reg::Utf8ToUtf16Le(text);
    fs::path file = machine.dir() / "in.reg";
    WriteText(file, "\xFF\xFE" + std::string(utf16.begin(), utf16.end()));
    ToolRun import = Reg({"import", file.string()});
    ASSERT_EQ(import.status, 0) << import.err;
    EXPECT_EQ(Reg({"query", "HKLM\\SOFTWARE\\Old"}).status, 1);
    ToolRun keep = Reg({"query", "HKLM\\SOFTWARE\\Keep"});
    EXPECT_EQ(keep.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Keep\n"
                        "    stay    REG_SZ    1\n"
                        "    new    REG_EXPAND_SZ    AB\n\n");

    fs::path exported = machine.dir() / "out.reg";
    ToolRun exp = Reg({"export", "HKLM\\SOFTWARE\\Keep", exported.string()});
    ASSERT_EQ(exp.status, 0) << exp.err;
    EXPECT_EQ(ReadBytes(exported).compare(0, 2, "\xFF\xFE"), 0);
    EXPECT_EQ(RegFileText(ReadBytes(exported)), "Windows Registry Editor Version 5.00\n\n"
                                                "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep]\n"
                                                "\"stay\"=\"1\"\n"
                                                "\"new\"=hex(2):41,00,42,00,00,00\n\n");
    EXPECT_EQ(Reg({"export", "HKLM\\SOFTWARE\\Keep", exported.string()}, "n\n").status, 1);
    EXPECT_EQ(Reg({"export", "HKLM\\SOFTWARE\\Keep", exported.string(), "/y"}).status, 0);
    EXPECT_EQ(Reg({"export", "HKLM\\SOFTWARE\\Missing", exported.string(), "/y"}).status, 1);

    // The export imports into an empty machine as the same keys and values.
    TempMachine other;
    ASSERT_EQ(Reg({"import", exported.string()}).status, 0);
    EXPECT_EQ(Reg({"query", "HKLM\\SOFTWARE\\Keep"}).out, keep.out);
}

TEST_F(QueldaReg, Reg32WritesAndReadsWhereA32BitProgramDoesOnA64BitMachine) {
    const std::string arch =
        "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    for (const char* bits : {"x86", "AMD64"}) {
        TempMachine fresh;
        SCOPED_TRACE(bits);
        ASSERT_EQ(Reg({"add", arch, "/v", "PROCESSOR_ARCHITECTURE", "/d", bits}).status, 0);
        ASSERT_EQ(Reg({"add", "HKLM\\SOFTWARE\\Vendor", "/v", "x", "/d", "1", "/reg:32"}).status,
                  0);
        const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\r\n\"y\"=\"2\"\r\n";
        fs::path file = fresh.dir() / "in.reg";
        WriteText(file, text);
        ASSERT_EQ(Reg({"import", file.string(), "/reg:32"}).status, 0);
        const bool is64 = std::string(bits) == "AMD64";
        const std::pair<const char*, const char*> keys[] = {
            {"HKLM\\SOFTWARE\\Vendor", "HKLM\\SOFTWARE\\WOW6432Node\\Vendor"},
            {"HKLM\\SOFTWARE\\Imported", "HKLM\\SOFTWARE\\WOW6432Node\\Imported"}};
        for (const auto& [key, wow] : keys) {
            SCOPED_TRACE(key);
            EXPECT_EQ(Reg({"query", key, "/reg:32"}).status, 0);
            EXPECT_EQ(Reg({"query", key}).status, is64 ? 1 : 0); // the 64-bit view by default
            EXPECT_EQ(Reg({"query", wow, "/reg:64"}).status, is64 ? 0 : 1);
        }
        // Shown under the name given, as reg.exe shows it.
        EXPECT_EQ(Reg({"query", "HKLM\\SOFTWARE\\Vendor", "/reg:32", "/s"}).out,
                  "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\n    x    REG_SZ    1\n\n");
    }
}

TEST_F(QueldaReg, HkcuIsTheHiveOfTheProgramsUserWhereTheMachineNamesOne) {
    const std::string admin = "S-1-5-21-1000-2000-3000-500";
    WriteText(machine.dir() / "accounts.ini", "program = " + admin + " PC\\admin\n");
    ASSERT_EQ(Reg({"add", "HKCU\\Software\\X", "/v", "a", "/d", "1"}).status, 0);
    EXPECT_EQ(Reg({"query", "HKU\\" + admin + "\\Software\\X", "/v", "a"}).status, 0);
    EXPECT_EQ(Reg({"query", "HKCU\\Software\\X", "/v", "a"}).status, 0);
    fs::remove(machine.dir() / "accounts.ini");
    EXPECT_EQ(Reg({"query", "HKCU\\Software\\X"}).status, 1);
}

TEST_F(QueldaReg, BadInputFailsWithAClearMessage) {
    fs::path notReg = machine.dir() / "not.reg";
    WriteText(notReg, "Windows Registry Editor Version 6.00\n[HKEY_CURRENT_USER\\A]\n");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"add", "HKXY\\Software"}, "ERROR: Invalid key name"},
        {{"add", "\\\\host\\HKLM\\Software"}, "ERROR: Invalid key name"},
        {{"add", "HKCU\\a\\\\b"}, "ERROR: Invalid key name"},
        {{"query", "HKCU\\Missing"}, kNotFound},
        {{"delete", "HKCU\\Missing", "/f"}, kNotFound},
        {{"delete", "HKCU", "/f"}, "root key cannot be deleted"},
        {{"add", "HKCU\\A", "/v", "x", "/t", "REG_TEXT"}, "ERROR: Invalid type \"REG_TEXT\""},
        {{"add", "HKCU\\A", "/v", "x", "/t", "REG_DWORD", "/d", "12a"}, "numeric value"},
        {{"add", "HKCU\\A", "/v", "x", "/t", "REG_DWORD", "/d", "-1"}, "numeric value"},
        {{"add", "HKCU\\A", "/v", "x", "/t", "REG_DWORD", "/d", "4294967296"}, "numeric value"},
        {{"add", "HKCU\\A", "/v", "x", "/t", "REG_BINARY", "/d", "0g"}, "hexadecimal value"},
        {{"add", "HKCU\\A", "/v", "x", "/t", "REG_BINARY", "/d", "abc"}, "hexadecimal value"},
        {{"add", "HKCU\\A", "/v", "x", "/ve"}, "ERROR: Invalid syntax"},
        {{"add", "HKCU\\A", "/d", "data"}, "ERROR: Invalid syntax"},
        {{"add", "HKCU\\A", "/v"}, "ERROR: Invalid syntax"},
        {{"add"}, "ERROR: Invalid syntax"},
        {{"frobnicate", "HKCU\\A"}, "ERROR: Invalid syntax"},
        {{"query", "HKCU\\A", "/reg:32", "/reg:64"}, "exclude each other"},
        {{"import", (machine.dir() / "none.reg").string()}, "ERROR: Cannot open the file"},
        {{"import", notReg.string()}, "not.reg line 1: not a registry file"},
    };
    for (const Case& c : cases) {
        ToolRun run = Reg(c.args);
        SCOPED_TRACE(c.args.empty() ? std::string() : c.args[0] + " " + c.args.back());
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(RegistryFile(machine.dir()))); // nothing was written
}

TEST_F(QueldaReg, ACorruptRegistryIsReportedWithItsLineAndLeftAlone) {
    const std::string corrupt = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_CURRENT_USER\\A]\n"
                                "\"v\"=\"unterminated\n";
    WriteText(RegistryFile(machine.dir()), corrupt);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"add", "HKCU\\A", "/v", "w", "/d", "1", "/f"},
          std::vector<std::string>{"query", "HKCU\\A"},
          std::vector<std::string>{"delete", "HKCU\\A", "/f"}}) {
        ToolRun run = Reg(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("registry.reg line 4: "), std::string::npos) << run.err;
    }
    fs::path good = machine.dir() / "good.reg";
    WriteText(good, "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\B]\n");
    EXPECT_EQ(Reg({"import", good.string()}).status, 1);
    EXPECT_EQ(ReadBytes(RegistryFile(machine.dir())), corrupt);
}

TEST_F(QueldaReg, TwoToolsAddingAtOnceLoseNothing) {
    const int count = 40;
    auto loop = [&](const std::string& prefix, bool* ok) {
        *ok = true;
        for (int i = 0; i < count; ++i)
            if (Reg({"add", "HKCU\\Race", "/v", prefix + std::to_string(i), "/t", "REG_DWORD", "/d",
                     std::to_string(i), "/f"})
                    .status != 0)
                *ok = false;
    };
    bool okA = false, okB = false;
    std::thread a(loop, "a", &okA);
    std::thread b(loop, "b", &okB);
    a.join();
    b.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
    winshim::reg::RegModel model;
    winshim::reg::ParseError error;
    ASSERT_TRUE(winshim::reg::LoadRegText(ReadBytes(RegistryFile(machine.dir())), &model, &error));
    ASSERT_NE(model.Find("HKEY_CURRENT_USER\\Race"), nullptr);
    EXPECT_EQ(model.Find("HKEY_CURRENT_USER\\Race")->values.size(), 2u * count);
}

TEST_F(QueldaReg, ImportSkipsABadValueWithAWarningAndKeepsTheRest) {
    fs::path file = machine.dir() / "tweak.reg";
    WriteText(file, "Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tweak]\r\n"
                    "\"NetworkThrottlingIndex\"=dword:0ffffffff\r\n"
                    "\"SystemResponsiveness\"=dword:00000000\r\n");
    ToolRun run = Reg({"import", file.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("WARNING: " + file.string() + " line 4: "), std::string::npos)
        << run.err;
    EXPECT_EQ(Reg({"query", "HKLM\\SOFTWARE\\Tweak"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Tweak\n"
              "    SystemResponsiveness    REG_DWORD    0x0\n\n");
}
