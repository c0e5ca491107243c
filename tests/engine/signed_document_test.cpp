// The server document signed with minisign: what is refused, what is accepted, and that a
// refused document downloads and starts nothing.
#include "engine_fixture.h"
#include "minisign_keys.h"

#include "engine/download/download.h"
#include "engine/trust/serial_store.h"
#include "probes/textconv.h"

#include <fstream>
#include <unistd.h>

using namespace enginetest;
using json = nlohmann::json;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// Key pairs made once for the suite: minisign -G takes a moment.
struct Keys {
    fs::path dir = fs::temp_directory_path() / ("quelda-signkeys-" + std::to_string(getpid()));
    testnet::MinisignKeys first{dir, "first"};
    testnet::MinisignKeys second{dir, "second"};
    testnet::MinisignKeys stranger{dir, "stranger"};
    ~Keys() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

class SignedDocument : public EngineTest {
  protected:
    static void SetUpTestSuite() { keys_ = new Keys; }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }

    struct Ran {
        SignalLog log;
        CheckReport report;
    };

    Ran RunKeyed(int mode, const Strings& configKeys, int repairFlags = 0) {
        Ran ran;
        CheckThread thread(mode, 0, server.ipPort(), kDocPath, "", repairFlags, logger);
        thread.SetDocumentKeys(SelectDocumentKeys({}, configKeys));
        ran.log.Attach(&thread);
        EXPECT_TRUE(RunToEnd(thread, 120000)) << "the thread did not end";
        ran.report = thread.Report();
        return ran;
    }

    // A document whose tool installer (with its sha256) a mode 2 job would fetch and start.
    json DocumentWithTool(bool withSha256 = true) {
        const std::string url = ServeInstaller("tool-setup");
        json doc = BaseDocument();
        doc["shanxi"]["tool"]["url"] = url;
        if (withSha256)
            doc["shanxi"]["tool"]["sha256"] =
                Sha256Of("#!/bin/sh\necho tool-setup >> '" + marker.string() + "'\nexit 0\n");
        return doc;
    }

    std::string Sha256Of(const std::string& bytes) {
        const fs::path file = machine.dir() / "sha-input";
        std::ofstream(file, std::ios::binary) << bytes;
        return Sha256OfFile(file);
    }

    static std::string Gbk(const json& doc) { return Utf8ToGbk(doc.dump()); }

    void Serve(const std::string& gbk, const std::string& minisig) {
        server.ServeBytes(kDocPath, gbk, 200, "application/json; charset=GBK");
        server.ServeBytes(std::string(kDocPath) + ".minisig", minisig, 200, "text/plain");
    }

    static std::string Comment(const std::string& serial, long long expiresIn = 86400 * 30) {
        return "serial=" + serial + " expires=" + testnet::UtcFromNow(expiresIn);
    }

    static const CheckFact* SignatureFact(const CheckReport& report) {
        for (const CheckFact& fact : report.rows[kNetworkRow].facts)
            if (fact.name == "signature")
                return &fact;
        return nullptr;
    }

    // Nothing of the installer was requested, saved or started.
    void ExpectNothingFetched(const std::string& why) {
        EXPECT_EQ(server.RequestCount("/files/tool-setup"), 0u) << why;
        EXPECT_TRUE(InstallerRuns().empty()) << why;
        EXPECT_TRUE(DownloadedFiles("shanxi").empty()) << why;
    }

    static Keys* keys_;
};

Keys* SignedDocument::keys_ = nullptr;

TEST_F(SignedDocument, RefusedDocumentsGiveTheirReasonAndFetchNothing) {
    const testnet::MinisignKeys& key = keys_->first;
    const json doc = DocumentWithTool();
    const std::string gbk = Gbk(doc);
    std::string tamperedBytes = gbk;
    tamperedBytes[tamperedBytes.find("1.0.0")] = '7';
    std::string tamperedComment = key.Sign(gbk, Comment("42"));
    tamperedComment.replace(tamperedComment.find("serial=42"), 9, "serial=99");

    struct Case {
        const char* name;
        std::string document;
        std::string minisig; // empty: none served
        std::string record;  // part of the signature fact's note
        std::string log;     // part of the log line
    };
    const Case cases[] = {
        {"tampered document", tamperedBytes, key.Sign(gbk, Comment("42")), "配置已被改动",
         "bad signature: the document"},
        {"tampered trusted comment", gbk, tamperedComment, "可信注释与签名不符",
         "bad signature: the trusted comment"},
        {"unknown key", gbk, keys_->stranger.Sign(gbk, Comment("42")),
         "未知密钥 " + keys_->stranger.KeyId(), "unknown key " + keys_->stranger.KeyId()},
        {"expired", gbk, key.Sign(gbk, "serial=42 expires=2026-01-02T03:04:05Z"),
         "已于 2026-01-02T03:04:05Z 过期", "expired on 2026-01-02T03:04:05Z"},
        {"no serial", gbk, key.Sign(gbk, "expires=" + testnet::UtcFromNow(86400)), "缺少 serial",
         "no serial"},
        {"no expiry", gbk, key.Sign(gbk, "serial=42 note=x"), "缺少 expires", "no expires"},
        {"missing signature", gbk, "", "没有该配置的签名文件", "no document signature at"},
        {"legacy form", gbk, key.Sign(gbk, Comment("42"), true), "旧格式", "legacy"},
        {"clock before signing", gbk,
         key.Sign(gbk, Comment("42") + " signed=" + testnet::UtcFromNow(3 * 86400)), "本机时钟有误",
         "clock"},
        {"not a signature", gbk, "<html>404</html>", "格式错误", "malformed"},
    };
    for (const Case& c : cases) {
        if (c.minisig.empty()) {
            server.ServeBytes(kDocPath, c.document);
            server.Remove(std::string(kDocPath) + ".minisig");
        } else {
            Serve(c.document, c.minisig);
        }
        const Ran check = RunKeyed(0, {key.PublicLine()});
        EXPECT_EQ(check.log.Events(), (Strings{"CheckStartSig(1)", "CheckNetSig(-1)"})) << c.name;
        const CheckFact* fact = SignatureFact(check.report);
        ASSERT_NE(fact, nullptr) << c.name;
        EXPECT_FALSE(fact->ok) << c.name;
        EXPECT_NE(fact->note.find(c.record), std::string::npos) << c.name << ": " << fact->note;
        EXPECT_EQ(check.report.documentSignature, "unverified") << c.name;
        const Strings messages = Messages();
        ASSERT_FALSE(messages.empty()) << c.name;
        const std::string joined =
            messages.back() + (messages.size() > 1 ? messages.end()[-2] : "");
        EXPECT_NE(joined.find(c.log), std::string::npos) << c.name << ": " << joined;

        // The install job and the repair refuse the document the same way.
        const Ran install = RunKeyed(2, {key.PublicLine()});
        EXPECT_EQ(install.log.Last("CheckNetSig"), -1) << c.name;
        EXPECT_EQ(install.log.Last("DownloadToolSig"), -3) << c.name;
        const Ran repair = RunKeyed(4, {key.PublicLine()}, 2);
        EXPECT_EQ(repair.log.Last("CheckNetSig"), -1) << c.name;
        ExpectNothingFetched(c.name);
    }
    // Nothing was ever accepted, so nothing was kept.
    std::uint64_t serial = 0;
    EXPECT_FALSE(ReadAcceptedSerial(key.KeyId(), serial));
}

TEST_F(SignedDocument, SignedDocumentIsUsedAndItsInstallerRuns) {
    const testnet::MinisignKeys& key = keys_->first;
    const json doc = DocumentWithTool();
    Serve(Gbk(doc), key.Sign(Gbk(doc), Comment("42") + " signed=" + testnet::UtcFromNow(-60)));

    const Ran check = RunKeyed(0, {key.PublicLine()});
    EXPECT_EQ(check.log.Last("CheckNetSig"), 1);
    EXPECT_EQ(check.log.Events().size(), 6u);
    const CheckFact* fact = SignatureFact(check.report);
    ASSERT_NE(fact, nullptr);
    EXPECT_TRUE(fact->ok);
    EXPECT_EQ(fact->found, key.KeyId());
    EXPECT_NE(fact->note.find("序号 42"), std::string::npos) << fact->note;
    EXPECT_EQ(check.report.documentSignature, "signed");
    std::uint64_t serial = 0;
    ASSERT_TRUE(ReadAcceptedSerial(key.KeyId(), serial));
    EXPECT_EQ(serial, 42u);

    const Ran install = RunKeyed(2, {key.PublicLine()});
    EXPECT_EQ(install.log.Last("DownloadToolSig"), 1);
    EXPECT_EQ(InstallerRuns(), Strings{"tool-setup"});
}

TEST_F(SignedDocument, RollbackToALowerSerialIsRefused) {
    const testnet::MinisignKeys& key = keys_->first;
    const json doc = DocumentWithTool();
    Serve(Gbk(doc), key.Sign(Gbk(doc), Comment("42")));
    EXPECT_EQ(RunKeyed(0, {key.PublicLine()}).log.Last("CheckNetSig"), 1);

    // The same serial again is fine; a lower one is an old document.
    EXPECT_EQ(RunKeyed(0, {key.PublicLine()}).log.Last("CheckNetSig"), 1);
    Serve(Gbk(doc), key.Sign(Gbk(doc), Comment("41")));
    for (int mode : {0, 2}) {
        const Ran ran = RunKeyed(mode, {key.PublicLine()});
        EXPECT_EQ(ran.log.Last("CheckNetSig"), -1);
        if (mode == 0) {
            const CheckFact* fact = SignatureFact(ran.report);
            ASSERT_NE(fact, nullptr);
            EXPECT_NE(fact->note.find("序号 41 低于本机已接受的序号 42"), std::string::npos)
                << fact->note;
        }
    }
    ExpectNothingFetched("rollback");
    std::uint64_t serial = 0;
    ASSERT_TRUE(ReadAcceptedSerial(key.KeyId(), serial));
    EXPECT_EQ(serial, 42u);

    // A higher serial raises the floor; the floor is per key.
    Serve(Gbk(doc), key.Sign(Gbk(doc), Comment("43")));
    EXPECT_EQ(RunKeyed(0, {key.PublicLine()}).log.Last("CheckNetSig"), 1);
    ASSERT_TRUE(ReadAcceptedSerial(key.KeyId(), serial));
    EXPECT_EQ(serial, 43u);
    Serve(Gbk(doc), keys_->second.Sign(Gbk(doc), Comment("1")));
    EXPECT_EQ(RunKeyed(0, {key.PublicLine(), keys_->second.PublicLine()}).log.Last("CheckNetSig"),
              1);
}

TEST_F(SignedDocument, SecondKeyVerifiesForRotation) {
    const json doc = DocumentWithTool();
    Serve(Gbk(doc), keys_->second.Sign(Gbk(doc), Comment("7")));
    const Strings both{keys_->first.PublicLine(), keys_->second.PublicLine()};
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), 1);
    EXPECT_EQ(RunKeyed(0, {keys_->first.PublicLine()}).log.Last("CheckNetSig"), -1);
    // A key that does not parse beside a good one: the good one still verifies.
    EXPECT_EQ(RunKeyed(0, {"not a key", keys_->second.PublicLine()}).log.Last("CheckNetSig"), 1);
    // Keys given, none usable: the document is not used unsigned.
    const Ran broken = RunKeyed(0, {"not a key"});
    EXPECT_EQ(broken.log.Last("CheckNetSig"), -1);
    EXPECT_EQ(server.RequestCount(std::string(kDocPath) + ".minisig"), 3u);
}

TEST_F(SignedDocument, InstallerWithoutSha256IsRefusedWhenSigned) {
    const json doc = DocumentWithTool(false);
    Serve(Gbk(doc), keys_->first.Sign(Gbk(doc), Comment("42")));
    const std::string refused = "3:未下载：已签名的服务器配置未给出此安装程序的 sha256";
    const Ran install = RunKeyed(2, {keys_->first.PublicLine()});
    EXPECT_EQ(install.log.Last("CheckNetSig"), 1);
    EXPECT_EQ(install.log.Last("DownloadToolSig"), -2);
    EXPECT_EQ(install.log.Outcomes(), Strings{refused});
    const Ran repair = RunKeyed(4, {keys_->first.PublicLine()}, 2);
    EXPECT_EQ(repair.log.Outcomes(), Strings{refused});
    ExpectNothingFetched("no sha256");

    // The same document unsigned, without keys: used as before, and said to be unsigned.
    const Ran unsigned_ = RunKeyed(2, {});
    EXPECT_EQ(unsigned_.log.Last("DownloadToolSig"), 1);
    EXPECT_EQ(InstallerRuns(), Strings{"tool-setup"});
    const Ran check = RunKeyed(0, {});
    EXPECT_EQ(check.report.documentSignature, "unsigned");
    const CheckFact* fact = SignatureFact(check.report);
    ASSERT_NE(fact, nullptr);
    EXPECT_NE(fact->note.find("未签名"), std::string::npos);
}

TEST(DocumentKeySelection, BuiltInKeysWinOverConfig) {
    const std::string a = "RWRIMtvsh/WxVrs0UXjB5qT/E3Wjrs8tQjax2TWiOxtPHxzAdU0ICTYq";
    const DocumentKeys builtIn = SelectDocumentKeys({a}, {"whatever"});
    EXPECT_TRUE(builtIn.builtIn);
    ASSERT_EQ(builtIn.keys.size(), 1u);
    EXPECT_EQ(KeyIdText(builtIn.keys[0].keyId), "56B1F587ECDB3248");
    EXPECT_EQ(builtIn.notes,
              Strings{"mainCfg.docKeys ignored: this program has its document keys built in"});
    const DocumentKeys config = SelectDocumentKeys({}, {a, "RWQ="});
    EXPECT_FALSE(config.builtIn);
    EXPECT_TRUE(config.required);
    EXPECT_EQ(config.keys.size(), 1u);
    EXPECT_EQ(config.notes.size(), 1u);
    EXPECT_FALSE(SelectDocumentKeys({}, {}).required);
}

} // namespace
