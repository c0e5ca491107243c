// The registry file format: what a regedit export reads as, and that writing and reading
// back keeps every value exactly.
#include "reg_parse.h"
#include "reg_write.h"
#include "registry_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace winshim::reg;

namespace {

Bytes Utf16(const std::string& utf8, bool terminate = true) {
    Bytes b = Utf8ToUtf16Le(utf8);
    if (terminate) {
        b.push_back(0);
        b.push_back(0);
    }
    return b;
}

RegModel Load(const std::string& text) {
    RegModel model;
    ParseError error;
    EXPECT_TRUE(LoadRegText(text, &model, &error))
        << "line " << error.line << ": " << error.message;
    return model;
}

const RegValue* Value(const RegModel& model, const std::string& key, const std::string& name) {
    const RegKey* k = model.Find(key);
    return k ? k->FindValue(name) : nullptr;
}

// Turns UTF-8 text into UTF-16LE bytes with a BOM and CRLF line ends, as regedit saves.
std::string AsRegeditExport(const std::string& text) {
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    Bytes b = Utf8ToUtf16Le(crlf);
    return std::string("\xFF\xFE") + std::string(b.begin(), b.end());
}

} // namespace

TEST(RegistryFile, ReadsARegeditUtf16Export) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\工具]\n"
        "@=\"默认值\"\n"
        "\"InstallPath\"=\"C:\\\\Program Files\\\\Vendor\"\n"
        "\"Count\"=dword:0000002a\n"
        "\"Path\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,3b,00,43,00,3a,00,5c,\\\n"
        "  00,00,00\n"
        "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
        "\"Big\"=hex(b):01,00,00,00,00,00,00,80\n"
        "\"Raw\"=hex:de,ad,\\\n"
        "  be,ef\n"
        "\"Odd\"=hex(4567):01\n";
    RegModel model = Load(AsRegeditExport(text));
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\工具";
    ASSERT_NE(model.Find(key), nullptr);
    EXPECT_TRUE(model.Exists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor")); // implied parents
    EXPECT_EQ(*Value(model, key, ""), (RegValue{"", 1, Utf16("默认值")}));
    EXPECT_EQ(Value(model, key, "InstallPath")->data, Utf16("C:\\Program Files\\Vendor"));
    EXPECT_EQ(*Value(model, key, "Count"), (RegValue{"Count", 4, {0x2a, 0, 0, 0}}));
    EXPECT_EQ(*Value(model, key, "Path"), (RegValue{"Path", 2, Utf16("%PATH%;C:\\")}));
    EXPECT_EQ(Value(model, key, "List")->data, (Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
    EXPECT_EQ(Value(model, key, "Big")->type, 11u);
    EXPECT_EQ(Value(model, key, "Big")->data, (Bytes{1, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(*Value(model, key, "Raw"), (RegValue{"Raw", 3, {0xde, 0xad, 0xbe, 0xef}}));
    EXPECT_EQ(Value(model, key, "Odd")->type, 0x4567u);
}

TEST(RegistryFile, AcceptsTheOtherEncodingsAndHeaders) {
    const std::string body = "\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"y\"\n";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"utf-8", "Windows Registry Editor Version 5.00\n" + body},
        {"utf-8 bom crlf", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n" + body},
        {"utf-16le", AsRegeditExport("Windows Registry Editor Version 5.00\n" + body)},
        {"regedit4", "REGEDIT4\n" + body},
        {"header with trailing spaces", "Windows Registry Editor Version 5.00  \n" + body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegModel model = Load(c.bytes);
        const RegValue* v = Value(model, "HKEY_CURRENT_USER\\A", "x");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->data, Utf16("y"));
    }
}

TEST(RegistryFile, Regedit4StringsInHexAreAnsi) {
    // "中" in GBK is d6 d0; a REGEDIT4 file holds expandable strings in the ANSI code page.
    RegModel model = Load("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"e\"=hex(2):d6,d0,00\n");
    EXPECT_EQ(Value(model, "HKEY_CURRENT_USER\\A", "e")->data, Utf16("中"));
}

TEST(RegistryFile, EscapesCommentsCaseAndDeletions) {
    RegModel model = Load("Windows Registry Editor Version 5.00\n"
                          "; a comment\n"
                          "[hkey_current_user\\Software\\Keep]\n"
                          "  ; an indented comment\n"
                          "\"quote\\\"and\\\\slash\"=\"a \\\"b\\\" c:\\\\d\"\n"
                          "\"Gone\"=dword:00000001\n"
                          "\"gone\"=-\n"
                          "\"Name\"=\"first\"\n"
                          "\"NAME\"=\"second\"\n"
                          "[HKEY_CURRENT_USER\\SOFTWARE\\keep\\Sub]\n"
                          "[HKEY_CURRENT_USER\\Software\\Drop\\Deep]\n"
                          "\"v\"=\"1\"\n"
                          "[-HKEY_CURRENT_USER\\software\\drop]\n"
                          "\"ignored\"=hex:01,\\\n"
                          "  02\n");
    const RegKey* keep = model.Find("HKEY_CURRENT_USER\\SOFTWARE\\KEEP");
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(keep->path, "HKEY_CURRENT_USER\\Software\\Keep");
    ASSERT_NE(keep->FindValue("quote\"and\\slash"), nullptr);
    EXPECT_EQ(keep->FindValue("quote\"and\\slash")->data, Utf16("a \"b\" c:\\d"));
    EXPECT_EQ(keep->FindValue("gone"), nullptr);
    ASSERT_NE(keep->FindValue("name"), nullptr);
    EXPECT_EQ(keep->FindValue("name")->name, "Name"); // case first written is kept
    EXPECT_EQ(keep->FindValue("name")->data, Utf16("second"));
    // The subkey written in another case lands under the existing key's spelling.
    EXPECT_NE(model.Find("HKEY_CURRENT_USER\\Software\\Keep\\Sub"), nullptr);
    EXPECT_EQ(model.Find("HKEY_CURRENT_USER\\Software\\Keep\\Sub")->path,
              "HKEY_CURRENT_USER\\Software\\Keep\\Sub");
    EXPECT_FALSE(model.Exists("HKEY_CURRENT_USER\\Software\\Drop"));
    EXPECT_FALSE(model.Exists("HKEY_CURRENT_USER\\Software\\Drop\\Deep"));
}

TEST(RegistryFile, ImportAppliesDeletionsToAnExistingRegistry) {
    RegModel model = Load("Windows Registry Editor Version 5.00\n"
                          "[HKEY_CURRENT_USER\\A\\B]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"
                          "[HKEY_CURRENT_USER\\C]\n\"x\"=\"3\"\n");
    std::vector<RegOp> ops;
    ParseError error;
    ASSERT_TRUE(ParseRegText("Windows Registry Editor Version 5.00\n"
                             "[-HKEY_CURRENT_USER\\A]\n"
                             "[HKEY_CURRENT_USER\\C]\n\"x\"=-\n\"y\"=dword:00000002\n",
                             &ops, &error));
    ApplyRegOps(ops, &model);
    EXPECT_FALSE(model.Exists("HKEY_CURRENT_USER\\A"));
    EXPECT_FALSE(model.Exists("HKEY_CURRENT_USER\\A\\B"));
    EXPECT_EQ(Value(model, "HKEY_CURRENT_USER\\C", "x"), nullptr);
    ASSERT_NE(Value(model, "HKEY_CURRENT_USER\\C", "y"), nullptr);
}

TEST(RegistryFile, ErrorsNameTheLine) {
    const std::string h = "Windows Registry Editor Version 5.00\n";
    struct Case {
        std::string text;
        int line;
    } cases[] = {
        {"REGEDIT5\n", 1},
        {"\n\nhello\n", 3},
        {h + "\"v\"=\"orphan\"\n", 2},
        {h + "[HKEY_NOWHERE\\A]\n", 2},
        {h + "[HKEY_CURRENT_USER\\A\n", 2},
        {h + "[HKEY_CURRENT_USER\\A\\\\B]\n", 2},
        {h + "[-HKEY_CURRENT_USER]\n", 2},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:123456789\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:xyz\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"open\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"a\" trailing\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:0g\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:123\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(z):00\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=qword:1\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\" \"x\"\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\n\"v\"=hex:00,\\\n", 4},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"\xff\"\n", 3},
        {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n  02,zz\n", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RegModel model;
        ParseError error;
        EXPECT_FALSE(LoadRegText(c.text, &model, &error));
        EXPECT_EQ(error.line, c.line) << error.message;
        EXPECT_FALSE(error.message.empty());
    }
}

TEST(RegistryFile, EmptyFileIsAnEmptyRegistry) {
    for (const std::string& text :
         {std::string(), std::string("\n  \n"), std::string("\xEF\xBB\xBF")}) {
        RegModel model;
        ParseError error;
        EXPECT_TRUE(LoadRegText(text, &model, &error));
        EXPECT_EQ(model.size(), 0u);
    }
}

TEST(RegistryFile, EveryValueSurvivesWritingAndReading) {
    RegModel model;
    RegKey& key = model.Ensure("HKEY_CURRENT_USER\\Software\\Round \"trip\"]");
    const std::vector<RegValue> values = {
        {"", 1, Utf16("default")},
        {"sz", 1, Utf16("C:\\dir \"quoted\" 中文 ;not a comment")},
        {"sz empty", 1, Utf16("")},
        {"sz no terminator", 1, Utf16("abc", false)},
        {"sz two lines", 1, Utf16("a\r\nb")},
        {"sz embedded nul", 1, {'a', 0, 0, 0, 'b', 0, 0, 0}},
        {"sz odd length", 1, {'a', 0, 'b'}},
        {"sz lone surrogate", 1, {0x00, 0xD8, 0, 0}},
        {"expand", 2, Utf16("%SystemRoot%\\x")},
        {"multi", 7, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {"dword", 4, {0x78, 0x56, 0x34, 0x12}},
        {"dword short", 4, {1, 2}},
        {"qword", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"binary", 3, Bytes(100, 0xAB)},
        {"binary empty", 3, {}},
        {"none", 0, {9}},
        {"big endian", 5, {0, 0, 0, 1}},
        {"odd type", 0xFFFFFFFF, {1}},
        {"\\\"", 1, Utf16("name of escapes")},
    };
    for (const RegValue& v : values)
        key.SetValue(v);
    model.Ensure("HKEY_LOCAL_MACHINE\\Empty\\Child");
    model.Ensure("HKEY_CURRENT_USER").SetValue({"root value", 4, {1, 0, 0, 0}});

    const std::string bytes = SerializeRegistry(model);
    RegModel back = Load(bytes);
    std::string text = RegFileText(bytes);
    EXPECT_TRUE(back.SameContent(model)) << text;
    // As regedit saves: UTF-16LE after a byte-order mark, every line ended by CR LF.
    EXPECT_EQ(bytes.compare(0, 2, "\xFF\xFE"), 0);
    EXPECT_EQ(bytes.size() % 2, 0u);
    size_t lines = 0;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        if (bytes[i] == '\n' && bytes[i + 1] == 0) {
            ++lines;
            EXPECT_EQ(bytes.compare(i - 2, 2, std::string("\r\0", 2)), 0) << "line " << lines;
        }
    EXPECT_EQ(lines, static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
    // Plain text is written readable, not as bytes.
    EXPECT_NE(text.find("\"sz\"=\"C:\\\\dir \\\"quoted\\\" 中文 ;not a comment\""),
              std::string::npos);
    EXPECT_NE(text.find("\"dword\"=dword:12345678"), std::string::npos);
    EXPECT_NE(text.find("@=\"default\""), std::string::npos);
    EXPECT_NE(text.find("\"qword\"=hex(b):01,02,03,04,05,06,07,08"), std::string::npos);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
}

TEST(RegistryFile, SubtreeExportHoldsOnlyThatKey) {
    RegModel model = Load("Windows Registry Editor Version 5.00\n"
                          "[HKEY_CURRENT_USER\\A]\n\"a\"=\"1\"\n"
                          "[HKEY_CURRENT_USER\\A\\B]\n\"b\"=\"2\"\n"
                          "[HKEY_CURRENT_USER\\AB]\n\"c\"=\"3\"\n");
    RegModel part = Load(SerializeSubtree(model, "HKEY_CURRENT_USER\\A"));
    EXPECT_EQ(part.size(), 2u);
    EXPECT_NE(part.Find("HKEY_CURRENT_USER\\A\\B"), nullptr);
    EXPECT_EQ(part.Find("HKEY_CURRENT_USER\\AB"), nullptr);
}

TEST(RegistryFile, KeyNamesFollowWindowsRules) {
    std::string out;
    EXPECT_TRUE(NormalizeKeyPath("hkey_local_machine\\Software\\", &out));
    EXPECT_EQ(out, "HKEY_LOCAL_MACHINE\\Software");
    EXPECT_TRUE(NormalizeKeyPath("HKEY_USERS", &out));
    EXPECT_EQ(out, "HKEY_USERS");
    EXPECT_TRUE(NormalizeKeyPath("HKEY_USERS\\" + std::string(255, 'k'), &out));
    for (const std::string& bad :
         {std::string("HKLM\\Software"), std::string("Software"), std::string("HKEY_USERS\\\\a"),
          std::string("HKEY_USERS\\a\\\\"), std::string("HKEY_USERS\\a\nb"),
          std::string("HKEY_USERS\\" + std::string(256, 'k'))})
        EXPECT_FALSE(NormalizeKeyPath(bad, &out)) << bad;
    EXPECT_FALSE(EqualNoCase("Straße", "STRASSE")); // one character for one, as Windows
    EXPECT_TRUE(EqualNoCase("ÄÖü", "äöÜ"));
}

namespace {

struct Imported {
    RegModel model;
    std::vector<ParseError> warnings;
};

Imported Import(const std::string& bytes) {
    Imported out;
    std::vector<RegOp> ops;
    ParseError error;
    EXPECT_TRUE(ParseImportText(bytes, &ops, &error, &out.warnings))
        << "line " << error.line << ": " << error.message;
    ApplyRegOps(ops, &out.model);
    return out;
}

std::vector<int> Lines(const std::vector<ParseError>& warnings) {
    std::vector<int> lines;
    for (const ParseError& w : warnings)
        lines.push_back(w.line);
    return lines;
}

} // namespace

TEST(RegistryImport, AFileWithoutByteOrderMarkIsCodePage936WhateverItsHeader) {
    const std::string gbkBody = "[HKEY_CURRENT_USER\\\xD6\xD0]\r\n" // 中
                                "@=\"\xCE\xC4\"\r\n"                // 文
                                "\"e\"=hex(2):25,41,25,d6,d0\r\n";  // %A%中, unterminated
    for (const std::string header : {"Windows Registry Editor Version 5.00", "REGEDIT4"}) {
        SCOPED_TRACE(header);
        Imported in = Import(header + "\r\n\r\n" + gbkBody);
        EXPECT_TRUE(in.warnings.empty());
        EXPECT_EQ(Value(in.model, "HKEY_CURRENT_USER\\中", "")->data, Utf16("文"));
        // Hex string data is code page text too; the terminator is added as regedit does.
        EXPECT_EQ(Value(in.model, "HKEY_CURRENT_USER\\中", "e")->data, Utf16("%A%中"));
    }
    // UTF-8 bytes without a mark are read as Windows reads them, garbled, with a warning.
    Imported utf8 = Import("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"n\"=\"中\"\n");
    EXPECT_EQ(Value(utf8.model, "HKEY_CURRENT_USER\\A", "n")->data, Utf16("涓?"));
    EXPECT_EQ(Lines(utf8.warnings), std::vector<int>{4});
}

TEST(RegistryImport, BytesOutsideTheCodePageNeverSwallowTheClosingQuote) {
    struct Case {
        std::string raw;
        std::string text;
    } cases[] = {
        {"x\xDC", "x?"},                      // a lead byte before the quote
        {"\xDC,\\\\", "?,\\"},                // ... before a comma and an escaped backslash
        {"\x80\xFF", "€\uF8F5"},              // single bytes that have a character
        {"\x81\x30z", "?0z"},                 // a byte below 0x40 is no trail byte
        {"\xA1\x40\xAA\xA1", "\uE4C6\uE000"}, // user-defined areas: private use
        {"\xDC\x41", "蹵"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Imported in = Import("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n"
                             "\"v\"=\"" +
                             c.raw + "\"\n\"after\"=dword:1\n");
        EXPECT_TRUE(in.warnings.empty());
        ASSERT_NE(Value(in.model, "HKEY_CURRENT_USER\\A", "v"), nullptr);
        EXPECT_EQ(Value(in.model, "HKEY_CURRENT_USER\\A", "v")->data, Utf16(c.text));
        EXPECT_NE(Value(in.model, "HKEY_CURRENT_USER\\A", "after"), nullptr);
    }
}

TEST(RegistryImport, LinesThatDoNotParseAreSkippedAndNamed) {
    const std::string text = "Windows Registry Editor Version 5.00\n"
                             "\"orphan\"=\"1\"\n" // 2
                             "[HKEY_CURRENT_USER\\A]\n"
                             "\"NetworkThrottlingIndex\"=dword:0ffffffff\n" // 4
                             "\"ok\"=dword:10 ; a comment\n"
                             "\"bin\"=hex:01,\\\n" // 6
                             "  zz\n"
                             "\"open\"=\"no end\n" // 8
                             "garbage\n"           // 9
                             "[HKEY_NOWHERE\\B]\n" // 10
                             "\"lost\"=\"1\"\n"
                             "[HKEY_USERS\\NotAHive]\n" // 12
                             "[HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software]\n"
                             "[HKEY_CURRENT_USER\\C]\n"
                             "\"last\"=\"\"\n";
    Imported in = Import(AsRegeditExport(text));
    EXPECT_EQ(Lines(in.warnings), (std::vector<int>{2, 4, 6, 8, 9, 10, 12}));
    EXPECT_EQ(Value(in.model, "HKEY_CURRENT_USER\\A", "ok")->data, (Bytes{0x10, 0, 0, 0}));
    EXPECT_EQ(Value(in.model, "HKEY_CURRENT_USER\\A", "NetworkThrottlingIndex"), nullptr);
    EXPECT_EQ(in.model.Find("HKEY_NOWHERE\\B"), nullptr);
    EXPECT_FALSE(in.model.Exists("HKEY_USERS\\NotAHive"));
    EXPECT_TRUE(in.model.Exists("HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software"));
    EXPECT_NE(Value(in.model, "HKEY_CURRENT_USER\\C", "last"), nullptr);

    // Not a registry file at all is still an error.
    std::vector<RegOp> ops;
    std::vector<ParseError> warnings;
    ParseError error;
    EXPECT_FALSE(ParseImportText("REGEDIT5\n[HKEY_CURRENT_USER\\A]\n", &ops, &error, &warnings));
    EXPECT_EQ(error.line, 1);
}
