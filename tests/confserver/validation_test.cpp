#include "confserver_paths.h"
#include "document.h"
#include "document_validation.h"
#include "file_store.h"
#include "options.h"
#include "sha256_fill.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <unistd.h>

namespace {

Document ExampleDocument() {
    Document doc;
    std::string error;
    EXPECT_TRUE(LoadDocument(kExamples + "/server-config.json", doc, error)) << error;
    return doc;
}

std::string Joined(const std::vector<Problem>& problems) {
    std::string text;
    for (const Problem& p : problems)
        text += p.Text() + "\n";
    return text;
}

TEST(ExampleDocument, IsValidAndEveryInstallerUrlHasAFile) {
    Document doc = ExampleDocument();
    EXPECT_EQ(Joined(ValidateDocument(doc, kBasePlaceholder)), "");

    FileStore store;
    std::string error;
    ASSERT_TRUE(store.Open(kExamples + "/installers", error)) << error;
    ServedUrls served{kBasePlaceholder, "", "/files/"};
    std::vector<UrlSlot> urls = InstallerUrls(doc);
    EXPECT_GE(urls.size(), 3u * 3u);
    for (const UrlSlot& slot : urls) {
        std::string url = (*slot.holder)["url"].get<std::string>(), relative;
        ASSERT_TRUE(served.RelativeFile(url, relative)) << slot.path << ": " << url;
        EXPECT_EQ(store.Resolve(relative).status, FileStore::Status::Found) << url;
        std::string region = slot.path.substr(0, slot.path.find('.'));
        EXPECT_EQ(relative.rfind(region + "/", 0), 0u) << url;
    }
}

// One fault put into the example document: the validator reports exactly one problem, at
// that path, with a message that says what is wrong.
struct Fault {
    const char* pointer; // JSON pointer into the example document
    const char* json;    // new value; nullptr removes the member
    const char* path;
    const char* message; // a part of the expected message
};

// Names the case in test listings by what it changes, not by the struct's bytes.
void PrintTo(const Fault& f, std::ostream* os) {
    *os << f.pointer << "=" << (f.json ? f.json : "(removed)");
}

class OneFault : public ::testing::TestWithParam<Fault> {};

TEST_P(OneFault, IsReportedWithItsPath) {
    const Fault& f = GetParam();
    Document doc = ExampleDocument();
    Document::json_pointer ptr(f.pointer);
    if (f.json)
        doc[ptr] = Document::parse(f.json);
    else
        doc[ptr.parent_pointer()].erase(ptr.back());

    std::vector<Problem> problems = ValidateDocument(doc, kBasePlaceholder);
    ASSERT_EQ(problems.size(), 1u) << Joined(problems);
    EXPECT_EQ(problems[0].path, f.path);
    EXPECT_NE(problems[0].message.find(f.message), std::string::npos) << problems[0].message;
}

INSTANTIATE_TEST_SUITE_P(
    Regions, OneFault,
    ::testing::Values(Fault{"/hebei", nullptr, "hebei", "region is missing"},
                      Fault{"/neimeng", "[]", "neimeng", "must be an object (found array)"},
                      Fault{"/shanxi/framework", nullptr, "shanxi.framework", "missing"},
                      Fault{"/shanxi/tool", "\"x\"", "shanxi.tool", "must be an object"},
                      Fault{"/shanxi/driver", nullptr, "shanxi.driver", "use []"},
                      Fault{"/shanxi/driver", "\"none\"", "shanxi.driver", "must be an array"},
                      Fault{"/shanxi/driver/1", "5", "shanxi.driver[1]", "must be an object"}));

INSTANTIATE_TEST_SUITE_P(
    Members, OneFault,
    ::testing::Values(
        Fault{"/shanxi/framework/url", nullptr, "shanxi.framework.url", "missing"},
        Fault{"/shanxi/tool/key", "5", "shanxi.tool.key", "must be a string (found number)"},
        Fault{"/shanxi/tool/fileVersion", "\"\"", "shanxi.tool.fileVersion", "not be empty"},
        Fault{"/hebei/driver/caDriver/fileName", "\"\"", "hebei.driver.caDriver.fileName",
              "not be empty"},
        Fault{"/neimeng/driver/0/fileModifyDtm", nullptr, "neimeng.driver[0].fileModifyDtm",
              "missing"},
        Fault{"/neimeng/driver/1/fileModifyDtm", "202311200905", "neimeng.driver[1].fileModifyDtm",
              "must be a string"},
        Fault{"/shanxi/driver/0/sha256", "\"abc\"", "shanxi.driver[0].sha256", "64 hex"},
        Fault{"/shanxi/tool/fileName", "\"QueldaBid\xF0\x9F\x98\x80.config\"",
              "shanxi.tool.fileName", "GBK"}));

INSTANTIATE_TEST_SUITE_P(
    RegistryPaths, OneFault,
    ::testing::Values(Fault{"/shanxi/framework/path", "\"HKEY_LOCAL_MACHINE\"",
                            "shanxi.framework.path", "must be a registry path"},
                      Fault{"/shanxi/framework/path", "\"计算机\\\\HKEY_LOCAL_MACHINE\"",
                            "shanxi.framework.path", "must be a registry path"},
                      Fault{"/shanxi/tool/path", "\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Quelda\"",
                            "shanxi.tool.path", "label that is skipped"},
                      Fault{"/hebei/tool/path", "\"计算机\\\\HKLM\\\\SOFTWARE\\\\Quelda\"",
                            "hebei.tool.path", "unknown registry root \"HKLM\""},
                      Fault{"/hebei/tool/path", "\"计算机\\\\hkey_local_machine\\\\SOFTWARE\"",
                            "hebei.tool.path", "unknown registry root"},
                      Fault{"/neimeng/driver/1/path", "\"计算机\\\\HKEY_USERS\\\\\"",
                            "neimeng.driver[1].path", "sub-key after HKEY_USERS is empty"}));

INSTANTIATE_TEST_SUITE_P(
    Urls, OneFault,
    ::testing::Values(
        Fault{"/hebei/driver/caDriver/url", "\"ftp://cdn.example/ca.exe\"",
              "hebei.driver.caDriver.url", "must start with http:// or https://"},
        Fault{"/shanxi/tool/url", "\"https://10.0.0.5\"", "shanxi.tool.url",
              "as in https://host:port/files/setup.exe"},
        Fault{"/shanxi/tool/url", "\"https:///x.exe\"", "shanxi.tool.url",
              "host after https:// is empty"},
        Fault{"/shanxi/driver/1/url", "\"ftp://10.0.0.5/x.exe\"", "shanxi.driver[1].url",
              "must start with http://"},
        Fault{"/shanxi/tool/url", "\"HTTP://10.0.0.5/x.exe\"", "shanxi.tool.url",
              "must start with http://"},
        Fault{"/shanxi/tool/url", "\"http://10.0.0.5\"", "shanxi.tool.url", "path after the host"},
        Fault{"/shanxi/tool/url", "\"http:///x.exe\"", "shanxi.tool.url", "host"},
        Fault{"/shanxi/tool/url", "\"http://10.0.0.5:70000/x.exe\"", "shanxi.tool.url",
              "1 to 65535"},
        Fault{"/shanxi/tool/url", "\"http://10.0.0.5:/x.exe\"", "shanxi.tool.url", "1 to 65535"},
        Fault{"/shanxi/tool/url", "\"http://10.0.0.5/my setup.exe\"", "shanxi.tool.url", "spaces"},
        Fault{"/shanxi/tool/url", "\"{{BASE}}files/x.exe\"", "shanxi.tool.url",
              "path starting with /"}));

// The optional name an installer's signature must carry.
INSTANTIATE_TEST_SUITE_P(Signers, OneFault,
                         ::testing::Values(Fault{"/shanxi/tool/signer", "42", "shanxi.tool.signer",
                                                 "must be a string (found number)"},
                                           Fault{"/hebei/framework/signer", "\"\"",
                                                 "hebei.framework.signer", "not be empty"},
                                           Fault{"/shanxi/driver/0/signer", "\"Quelda CA \"",
                                                 "shanxi.driver[0].signer", "compared exactly"},
                                           Fault{"/shanxi/driver/1/signer", "\"Quelda\\nCA\"",
                                                 "shanxi.driver[1].signer", "control characters"}));

INSTANTIATE_TEST_SUITE_P(SilentArgs, OneFault,
                         ::testing::Values(Fault{"/shanxi/tool/silentArgs", "7",
                                                 "shanxi.tool.silentArgs", "must be a string"},
                                           Fault{"/hebei/framework/silentArgs", "\"/q\\r\\n/x\"",
                                                 "hebei.framework.silentArgs", "one line"}));

TEST(Validation, InstallersWithoutSilentArgsAreNamedAndLongOnesRefused) {
    Document doc = ExampleDocument();
    EXPECT_EQ(Joined(InstallersWithoutSilentArgs(doc)), "") << "the example names them all";
    doc["shanxi"]["framework"].erase("silentArgs");
    doc["hebei"]["tool"]["silentArgs"] = nullptr;
    std::vector<std::string> named;
    for (const Problem& p : InstallersWithoutSilentArgs(doc))
        named.push_back(p.path);
    EXPECT_EQ(named, (std::vector<std::string>{"shanxi.framework", "hebei.tool"}));
    EXPECT_TRUE(ValidateDocument(doc, kBasePlaceholder).empty());
    doc["neimeng"]["tool"]["silentArgs"] = std::string(513, 'a');
    EXPECT_NE(Joined(ValidateDocument(doc, kBasePlaceholder)).find("neimeng.tool.silentArgs"),
              std::string::npos);
}

TEST(Signers, ANamedSignerIsValid) {
    Document doc = ExampleDocument();
    doc["shanxi"]["tool"]["signer"] = "Quelda CA Co., Ltd.";
    doc["hebei"]["driver"]["caDriver"]["signer"] = "全国投标证书有限公司";
    EXPECT_TRUE(ValidateDocument(doc, kBasePlaceholder).empty());
}

// The optional top-level support member beside the regions: a report URL like an
// installer's.
INSTANTIATE_TEST_SUITE_P(
    Support, OneFault,
    ::testing::Values(Fault{"/support", "\"http://10.0.0.5/reports\"", "support",
                            "must be an object"},
                      Fault{"/support/reportUrl", nullptr, "support.reportUrl", "missing"},
                      Fault{"/support/reportUrl", "\"file:///reports\"", "support.reportUrl",
                            "must start with http://"},
                      Fault{"/support/reportUrl", "\"http://10.0.0.5:0/reports\"",
                            "support.reportUrl", "1 to 65535"},
                      Fault{"/support/reportUrl", "\"http://10.0.0.5:8090\"", "support.reportUrl",
                            "path after the host"}));

INSTANTIATE_TEST_SUITE_P(
    IeSites, OneFault,
    ::testing::Values(
        Fault{"/shanxi/ieSites", "\"a.example\"", "shanxi.ieSites", "must be an array"},
        Fault{"/hebei/ieSites", "[\"a.example:8080\", \"https://b.example\"]", "hebei.ieSites[1]",
              "without a scheme"},
        Fault{"/hebei/ieSites", "[\"*.b.example\"]", "hebei.ieSites[0]", "wildcard"},
        Fault{"/hebei/ieSites", "[\"b.example/sign\"]", "hebei.ieSites[0]", "without a path"},
        Fault{"/neimeng/ieSites", "[\"b.example:0\"]", "neimeng.ieSites[0]", "1 to 65535"},
        Fault{"/neimeng/ieSites", "[1]", "neimeng.ieSites[0]", "must be a string"},
        Fault{"/neimeng/ieSites", "[\"cn\"]", "neimeng.ieSites[0]", "at least two labels"},
        Fault{"/neimeng/ieSites",
              "[\"a.cn\",\"b.cn\",\"c.cn\",\"d.cn\",\"e.cn\",\"f.cn\",\"g.cn\",\"h.cn\","
              "\"i.cn\",\"j.cn\",\"k.cn\",\"l.cn\",\"m.cn\",\"n.cn\",\"o.cn\",\"p.cn\","
              "\"q.cn\",\"r.cn\",\"s.cn\",\"t.cn\",\"u.cn\",\"v.cn\",\"w.cn\",\"x.cn\","
              "\"y.cn\",\"z.cn\",\"aa.cn\",\"ab.cn\",\"ac.cn\",\"ad.cn\",\"ae.cn\",\"af.cn\","
              "\"ag.cn\"]",
              "neimeng.ieSites", "at most 32"}));

INSTANTIATE_TEST_SUITE_P(
    VersionsAndTimes, OneFault,
    ::testing::Values(Fault{"/shanxi/driver/0/fileVersion", "\"2.1.0\"",
                            "shanxi.driver[0].fileVersion", "four decimal numbers"},
                      Fault{"/shanxi/driver/0/fileVersion", "\"v2.1.0.8\"",
                            "shanxi.driver[0].fileVersion", "four decimal numbers"},
                      Fault{"/shanxi/driver/0/fileVersion", "\"2.01.0.8\"",
                            "shanxi.driver[0].fileVersion", "leading zeros"},
                      Fault{"/shanxi/driver/0/fileVersion", "\"2.1.0.65536\"",
                            "shanxi.driver[0].fileVersion", "0 to 65535"},
                      Fault{"/shanxi/driver/0/fileModifyDtm", "\"2024/03/15 10:20\"",
                            "shanxi.driver[0].fileModifyDtm", "YYYY-MM-DD HH:MM"},
                      Fault{"/shanxi/driver/0/fileModifyDtm", "\"2024-03-15 10:20:33\"",
                            "shanxi.driver[0].fileModifyDtm", "YYYY-MM-DD HH:MM"},
                      Fault{"/shanxi/driver/0/fileModifyDtm", "\"2024-03-15\"",
                            "shanxi.driver[0].fileModifyDtm", "YYYY-MM-DD HH:MM"},
                      Fault{"/shanxi/driver/0/fileModifyDtm", "\"2023-02-29 10:20\"",
                            "shanxi.driver[0].fileModifyDtm", "not a valid date"},
                      Fault{"/shanxi/driver/0/fileModifyDtm", "\"2024-13-01 10:20\"",
                            "shanxi.driver[0].fileModifyDtm", "not a valid date"},
                      Fault{"/shanxi/driver/0/fileModifyDtm", "\"2024-03-15 24:00\"",
                            "shanxi.driver[0].fileModifyDtm", "not a valid date"},
                      Fault{"/shanxi/tool/size", "0", "shanxi.tool.size", "above 0"},
                      Fault{"/shanxi/tool/size", "-5", "shanxi.tool.size", "above 0"},
                      Fault{"/shanxi/tool/size", "1.5", "shanxi.tool.size", "above 0"},
                      Fault{"/shanxi/driver/0/size", "\"100\"", "shanxi.driver[0].size",
                            "above 0"}));

// Values at the edges of what the tool reads correctly are accepted.
struct Accepted {
    const char* pointer;
    const char* json;
};

void PrintTo(const Accepted& a, std::ostream* os) {
    *os << a.pointer << "=" << a.json;
}

class AcceptedValue : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedValue, GivesNoProblem) {
    Document doc = ExampleDocument();
    doc[Document::json_pointer(GetParam().pointer)] = Document::parse(GetParam().json);
    EXPECT_EQ(Joined(ValidateDocument(doc, kBasePlaceholder)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Edges, AcceptedValue,
    ::testing::Values(Accepted{"/shanxi/driver/0/fileModifyDtm", "\"2024-02-29 23:59\""},
                      Accepted{"/shanxi/driver/0/fileModifyDtm", "\"2024-3-5 9:05\""},
                      Accepted{"/shanxi/driver/0/fileVersion", "\"0.0.0.0\""},
                      Accepted{"/shanxi/driver/0/fileVersion", "\"65535.65535.65535.65535\""},
                      Accepted{
                          "/shanxi/driver/0/sha256",
                          "\"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\""},
                      Accepted{"/shanxi/tool/url", "\"http://10.0.0.5:8080/files/tool.exe\""},
                      Accepted{"/shanxi/tool/size", "18446744073709551615"},
                      Accepted{"/shanxi/tool/url", "\"http://bid.example/\""},
                      Accepted{"/shanxi/tool/url", "\"https://bid.example:8443/files/t.exe\""},
                      Accepted{"/support/reportUrl", "\"https://bid.example/reports\""},
                      Accepted{"/shanxi/tool/fileVersion", "\"V3.2 (build 7)\""},
                      Accepted{"/shanxi/tool/key", "\"\""}, Accepted{"/shanxi/driver", "[]"},
                      Accepted{"/hebei/driver", "{}"},
                      Accepted{"/neimeng/remark", "\"内蒙古 CA 驱动\""}));

TEST(Validation, ReportsEveryProblemInDocumentOrder) {
    Document doc = ExampleDocument();
    doc["shanxi"]["driver"][1]["url"] = "gopher://x/y.exe";
    doc["shanxi"]["driver"][0]["fileVersion"] = "2.1";
    doc.erase("hebei");
    std::vector<Problem> problems = ValidateDocument(doc, kBasePlaceholder);
    EXPECT_EQ(Joined(problems), "shanxi.driver[0].fileVersion: must be four decimal numbers "
                                "a.b.c.d\n"
                                "shanxi.driver[1].url: must start with http:// or https://\n"
                                "hebei: region is missing\n");
}

TEST(Validation, RejectsADocumentThatIsNotAnObject) {
    for (const char* text : {"[]", "\"x\"", "null"}) {
        std::vector<Problem> problems = ValidateDocument(Document::parse(text), kBasePlaceholder);
        ASSERT_EQ(problems.size(), 1u) << text;
        EXPECT_EQ(problems[0].path, "(document)");
    }
}

TEST(Validation, PlainHttpInstallersWithoutSha256AreNamedAsUnprotected) {
    Document doc = ExampleDocument();
    doc["shanxi"]["tool"]["url"] = "http://10.0.0.5/files/tool.exe";
    doc["shanxi"]["tool"].erase("sha256");
    doc["hebei"]["tool"]["url"] = "https://bid.example/files/tool.exe";
    doc["hebei"]["tool"].erase("sha256");
    doc["neimeng"]["tool"]["url"] = "http://10.0.0.5/files/tool.exe";
    doc["neimeng"]["tool"]["sha256"] = std::string(64, 'a');
    std::vector<std::string> named;
    for (const Problem& p : UnprotectedInstallerUrls(doc))
        if (p.path.find(".tool.") != std::string::npos)
            named.push_back(p.path);
    EXPECT_EQ(named, std::vector<std::string>{"shanxi.tool.url"});
    EXPECT_TRUE(ValidateDocument(doc, kBasePlaceholder).empty());
}

TEST(Validation, PlaceholderUrlsNeedThePlaceholderToBeKnown) {
    EXPECT_EQ(CheckInstallerUrl("{{BASE}}/files/a.exe", kBasePlaceholder), "");
    EXPECT_NE(CheckInstallerUrl("{{BASE}}/files/a.exe", ""), "");
    EXPECT_NE(CheckInstallerUrl("{{HOST}}/files/a.exe", kBasePlaceholder), "");
}

} // namespace

namespace {

TEST(Validation, TheToolsOwnReleaseIsCheckedAndFilledLikeAnInstaller) {
    Document doc = ExampleDocument();
    doc["envcheck"] = {{"version", "1.1"},
                       {"minimumVersion", "1.0"},
                       {"msi",
                        {{"url", "{{BASE}}/files/quelda-1.1.msi"},
                         {"sha256", std::string(64, 'a')},
                         {"size", 100},
                         {"signer", "Quelda Co., Ltd."}}}};
    EXPECT_EQ(Joined(ValidateDocument(doc, kBasePlaceholder)), "");

    doc["envcheck"]["version"] = "1.1-beta";
    doc["envcheck"]["msi"].erase("sha256");
    doc["envcheck"]["zip"] = {
        {"url", "gopher://x/z.zip"}, {"sha256", std::string(64, 'b')}, {"size", 1}};
    EXPECT_EQ(Joined(ValidateDocument(doc, kBasePlaceholder)),
              "envcheck.zip.url: must start with http:// or https://\n"
              "envcheck.version: must be one to four decimal numbers a.b.c.d\n"
              "envcheck.msi.sha256: must be 64 hexadecimal digits\n");

    // Its packages are installer URLs too: filled, warned about, required to carry sha256.
    const auto slots = InstallerUrls(doc);
    ASSERT_GE(slots.size(), 2u);
    EXPECT_EQ(slots[slots.size() - 2].path, "envcheck.msi");
    EXPECT_EQ(slots.back().path, "envcheck.zip");
}

} // namespace

namespace {

// Values and shapes no one would write, that must still end in a problem, not a crash.
TEST(Validation, HugeValuesAndDeepNestingAreProblemsNotCrashes) {
    Document doc = ExampleDocument();
    doc["shanxi"]["driver"][0]["fileVersion"] = std::string(200000, '7');
    doc["shanxi"]["driver"][1]["fileModifyDtm"] = std::string(200000, '2');
    EXPECT_EQ(Joined(ValidateDocument(doc, kBasePlaceholder)),
              "shanxi.driver[0].fileVersion: must be four decimal numbers a.b.c.d\n"
              "shanxi.driver[1].fileModifyDtm: must be \"YYYY-MM-DD HH:MM\" (UTC+8)\n");

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("deep-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file) << std::string(100000, '[') << std::string(100000, ']');
    Document deep;
    std::string error;
    EXPECT_FALSE(LoadDocument(file.string(), deep, error));
    EXPECT_NE(error.find("nested deeper than 32 levels"), std::string::npos) << error;
    std::ofstream(file) << "{\"a\":" << std::string(20, '[') << std::string(20, ']') << "}";
    EXPECT_TRUE(LoadDocument(file.string(), deep, error)) << error;
    std::filesystem::remove(file);
}

} // namespace
