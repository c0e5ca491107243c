#include "atomic_write.h"
#include "document.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class ScratchDir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("confserver-doc-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return (dir_ / name).string();
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir_;
};

TEST(Document, EncodesChineseTextAsGbkBytes) {
    Document doc = Document::parse(R"({"path":"计算机\\HKEY_USERS\\内蒙"})");
    std::string gbk, error;
    ASSERT_TRUE(EncodeDocumentGbk(doc, gbk, error)) << error;
    // 计算机 = BC C6 CB E3 BB FA, 内蒙 = C4 DA C3 C9
    EXPECT_NE(gbk.find("\xBC\xC6\xCB\xE3\xBB\xFA\\\\HKEY_USERS\\\\\xC4\xDA\xC3\xC9"),
              std::string::npos);
    EXPECT_EQ(gbk.find("\xE8"), std::string::npos) << "UTF-8 bytes left in the body";
}

TEST(Document, RefusesTextThatGbkCannotCarryInsteadOfDroppingIt) {
    Document doc = Document::parse(R"({"fileName":"a😀b.dll"})");
    std::string gbk, error;
    EXPECT_FALSE(EncodeDocumentGbk(doc, gbk, error));
    EXPECT_FALSE(EncodableInGbk("a😀b"));
    EXPECT_TRUE(EncodableInGbk("山西 hebei"));
}

TEST(Document, ReplacesThePlaceholderInEveryStringButNotInNames) {
    Document doc = Document::parse(
        R"({"{{BASE}}":"{{BASE}}/a {{BASE}}/b","list":[{"url":"{{BASE}}/c"}],"n":1})");
    ReplacePlaceholder(doc, "{{BASE}}", "http://h:1");
    EXPECT_EQ(doc["{{BASE}}"], "http://h:1/a http://h:1/b");
    EXPECT_EQ(doc["list"][0]["url"], "http://h:1/c");
    EXPECT_EQ(doc["n"], 1);
    // A base that contains the placeholder itself does not loop.
    Document self = Document::parse(R"({"u":"{{BASE}}/x"})");
    ReplacePlaceholder(self, "{{BASE}}", "{{BASE}}{{BASE}}");
    EXPECT_EQ(self["u"], "{{BASE}}{{BASE}}/x");
}

TEST_F(ScratchDir, LoadsWithByteOrderMarkAndNamesTheFaultOfABrokenFile) {
    Document doc;
    std::string error;
    ASSERT_TRUE(LoadDocument(Write("bom.json", "\xEF\xBB\xBF{\"a\":\"山西\"}"), doc, error))
        << error;
    EXPECT_EQ(doc["a"], "山西");
    EXPECT_FALSE(LoadDocument(Write("bad.json", "{\"a\":"), doc, error));
    EXPECT_NE(error.find("bad.json"), std::string::npos) << error;
    EXPECT_FALSE(LoadDocument((dir_ / "missing.json").string(), doc, error));
}

TEST_F(ScratchDir, AtomicWriteReplacesContentKeepsModeAndLeavesNoTemporaryFile) {
    std::string file = Write("doc.json", "old");
    ::chmod(file.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(file, "new content", error)) << error;
    EXPECT_EQ(Read(file), "new content");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // Through a symbolic link the linked file changes and the link stays.
    fs::create_symlink(file, dir_ / "link.json");
    ASSERT_TRUE(WriteFileAtomically((dir_ / "link.json").string(), "via link", error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.json"));
    EXPECT_EQ(Read(file), "via link");

    EXPECT_FALSE(WriteFileAtomically((dir_ / "no-such-dir" / "x.json").string(), "x", error));
}

TEST_F(ScratchDir, Sha256OfKnownContents) {
    std::string hex, error;
    ASSERT_TRUE(Sha256OfFile(Write("abc", "abc"), hex, error)) << error;
    EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    ASSERT_TRUE(Sha256OfFile(Write("empty", ""), hex, error)) << error;
    EXPECT_EQ(hex, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // One million 'a', spanning many read chunks.
    ASSERT_TRUE(Sha256OfFile(Write("million", std::string(1000000, 'a')), hex, error)) << error;
    EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_FALSE(Sha256OfFile(dir_ / "missing", hex, error));
}

} // namespace
