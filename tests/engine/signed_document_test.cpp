// The server document signed with minisign: what is refused, what is accepted, and that a
// refused document downloads and starts nothing.
#include "engine_fixture.h"
#include "minisign_keys.h"

#include "engine/download/download.h"
#include "engine/report/report_text.h"
#include "engine/server_document.h"
#include "engine/trust/serial_store.h"
#include "engine/update/program_files.h"
#include "engine/update/release_offer.h"
#include "file_bytes.h"
#include "pe_fixture.h"
#include "probes/file_probes.h"
#include "probes/registry.h"
#include "probes/textconv.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
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
        if (programVersion)
            thread.SetProgramVersion(*programVersion);
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
            doc["shanxi"]["tool"]["sha256"] = Sha256Of(InstallerScript("tool-setup"));
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

    static const CheckFact* Fact(const CheckReport& report, const std::string& name) {
        for (const CheckFact& fact : report.rows[kNetworkRow].facts)
            if (fact.name == name)
                return &fact;
        return nullptr;
    }
    static const CheckFact* SignatureFact(const CheckReport& report) {
        return Fact(report, "signature");
    }

    // The stored floor (DocumentSerial), -1 when there is none that reads.
    static long long Floor() {
        DWORD value = 0;
        long error = 0;
        return RegReadDwordExact(HKEY_LOCAL_MACHINE, kSerialStoreKey, kSerialFloorValue, value,
                                 error) == 1
                   ? static_cast<long long>(value)
                   : -1;
    }
    static void PutDword(const std::string& name, DWORD value) {
        ASSERT_EQ(RegSetDwordValue(HKEY_LOCAL_MACHINE, kSerialStoreKey, name, &value), 1);
    }
    static constexpr char kStore[] = "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda";

    // Nothing of the installer was requested, saved or started.
    void ExpectNothingFetched(const std::string& why) {
        EXPECT_EQ(server.RequestCount("/files/tool-setup"), 0u) << why;
        EXPECT_TRUE(InstallerRuns().empty()) << why;
        EXPECT_TRUE(DownloadedFiles("shanxi").empty()) << why;
    }

    // Serves the tool's document signed with the first key, offering `release` ("envcheck").
    void ServeOffer(const json& release) {
        json doc = DocumentWithTool();
        doc["envcheck"] = release;
        Serve(Gbk(doc), keys_->first.Sign(Gbk(doc), Comment("42")));
    }
    static json Package(const std::string& url, const std::string& sha256, std::uint64_t size) {
        return {{"url", url}, {"sha256", sha256}, {"size", size}};
    }

    static Keys* keys_;
    std::optional<ReleaseVersion> programVersion;
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
         "不是由本程序信任的密钥签名的", "unknown key " + keys_->stranger.KeyId()},
        {"expired", gbk, key.Sign(gbk, "serial=42 expires=2026-01-02T03:04:05Z"),
         "服务器配置已过期，配置未使用", "expired on 2026-01-02T03:04:05Z"},
        {"no serial", gbk, key.Sign(gbk, "expires=" + testnet::UtcFromNow(86400)),
         "没有注明配置的序号", "no serial"},
        {"no expiry", gbk, key.Sign(gbk, "serial=42 note=x"), "没有注明有效期", "no expires"},
        {"missing signature", gbk, "", "没有该配置的签名文件", "no document signature at"},
        {"legacy form", gbk, key.Sign(gbk, Comment("42"), true), "签名格式过旧", "legacy"},
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
        // The record is for the bidder: the key id, serial and expiry stay in the log.
        for (const char* technical : {"serial", "expires", "minisign", "2026-01-02"})
            EXPECT_EQ(fact->note.find(technical), std::string::npos)
                << c.name << ": " << fact->note;
        EXPECT_EQ(fact->note.find(keys_->stranger.KeyId()), std::string::npos) << c.name;
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
    EXPECT_EQ(ReadSerialFloor({key.KeyId()}).state, FloorState::None);
}

// Each way the signature can fail to arrive is named for what it was, at the server's own
// address.
TEST_F(SignedDocument, SignatureThatDoesNotArriveIsNamedForWhatHappened) {
    const json doc = DocumentWithTool();
    const std::string sigPath = std::string(kDocPath) + ".minisig";
    const std::string sig = keys_->first.Sign(Gbk(doc), Comment("42"));
    const struct {
        const char* name;
        std::function<void()> serve;
        std::string record;
    } cases[] = {
        {"not found", [&] { server.ServeStatus(sigPath, 404); }, "服务器上没有该配置的签名文件"},
        {"server error", [&] { server.ServeStatus(sigPath, 503); },
         "服务器没有提供该配置的签名文件（HTTP 503）"},
        {"cut off", [&] { server.ServeTruncated(sigPath, sig, sig.size() / 2); },
         "未能从服务器取得该配置的签名文件，配置未使用：传输中断"},
        {"too large", [&] { server.ServeGenerated(sigPath, kMaxDocumentBytes + 1); },
         "签名文件过大"},
    };
    server.ServeBytes(kDocPath, Gbk(doc), 200, "application/json; charset=GBK");
    for (const auto& c : cases) {
        c.serve();
        const Ran ran = RunKeyed(0, {keys_->first.PublicLine()});
        EXPECT_EQ(ran.log.Last("CheckNetSig"), -1) << c.name;
        const CheckFact* fact = SignatureFact(ran.report);
        ASSERT_NE(fact, nullptr) << c.name;
        EXPECT_NE(fact->note.find(c.record), std::string::npos) << c.name << ": " << fact->note;
        EXPECT_EQ(fact->where, "http://" + server.ipPort() + sigPath) << c.name;
    }
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
    EXPECT_EQ(fact->note, "服务器配置已签名，签名验证通过");
    // The serial and expiry are in the report's facts, not in the row's record.
    const CheckFact* terms = Fact(check.report, "signatureTerms");
    ASSERT_NE(terms, nullptr);
    EXPECT_EQ(terms->found->rfind("key=" + key.KeyId() + " serial=42 expires=", 0), 0u)
        << *terms->found;
    for (const std::string& line : RowDetailLines(check.report.rows[kNetworkRow]))
        EXPECT_EQ(line.find("serial"), std::string::npos) << line;
    EXPECT_EQ(check.report.documentSignature, "signed");
    EXPECT_EQ(Floor(), 42u);

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
            EXPECT_NE(fact->note.find("比本机已使用过的配置旧"), std::string::npos) << fact->note;
            const CheckFact* terms = Fact(ran.report, "signatureTerms");
            ASSERT_NE(terms, nullptr);
            EXPECT_EQ(terms->expected, std::optional<std::string>("serial>=42"));
            const Strings messages = Messages();
            const std::string said = "serial 41 of key " + key.KeyId() + " is lower than 42";
            EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
                return m.find(said) != std::string::npos;
            })) << said;
        }
    }
    ExpectNothingFetched("rollback");
    EXPECT_EQ(Floor(), 42);

    // A higher serial raises the floor.
    Serve(Gbk(doc), key.Sign(Gbk(doc), Comment("43")));
    EXPECT_EQ(RunKeyed(0, {key.PublicLine()}).log.Last("CheckNetSig"), 1);
    EXPECT_EQ(Floor(), 43);
}

// One floor for all trusted keys: during a rotation an older document signed with the other
// key is as old as it is under its own.
TEST_F(SignedDocument, RollbackUnderAnotherTrustedKeyIsRefused) {
    const json doc = DocumentWithTool();
    const Strings both{keys_->first.PublicLine(), keys_->second.PublicLine()};
    Serve(Gbk(doc), keys_->second.Sign(Gbk(doc), Comment("10")));
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), 1);
    Serve(Gbk(doc), keys_->first.Sign(Gbk(doc), Comment("5")));
    for (int mode : {0, 2})
        EXPECT_EQ(RunKeyed(mode, both).log.Last("CheckNetSig"), -1) << mode;
    ExpectNothingFetched("rollback under the other key");
    EXPECT_EQ(Floor(), 10);
    // The first key above the floor is used, and raises it for the second.
    Serve(Gbk(doc), keys_->first.Sign(Gbk(doc), Comment("11")));
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), 1);
    Serve(Gbk(doc), keys_->second.Sign(Gbk(doc), Comment("10")));
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), -1);
    EXPECT_EQ(Floor(), 11);
}

// The per-key values of earlier versions: the highest of the trusted keys' is the floor until
// the first accepted document writes the one floor.
TEST_F(SignedDocument, PerKeySerialsOfEarlierVersionsBecomeTheFloor) {
    const json doc = DocumentWithTool();
    const Strings both{keys_->first.PublicLine(), keys_->second.PublicLine()};
    PutDword(SerialValueName(keys_->first.KeyId()), 50);
    PutDword(SerialValueName(keys_->second.KeyId()), 30);
    PutDword(SerialValueName(keys_->stranger.KeyId()), 90); // not trusted: not counted
    Serve(Gbk(doc), keys_->second.Sign(Gbk(doc), Comment("49")));
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), -1);
    EXPECT_EQ(Floor(), -1);
    Serve(Gbk(doc), keys_->second.Sign(Gbk(doc), Comment("50")));
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), 1);
    EXPECT_EQ(Floor(), 50);
    // Once written, the floor alone counts.
    PutDword(SerialValueName(keys_->second.KeyId()), 70);
    EXPECT_EQ(RunKeyed(0, both).log.Last("CheckNetSig"), 1);
}

#ifndef _WIN32
// A floor that cannot be read is not "none": the document is refused, and the record tells an
// administrator how to reset it; once reset, the document is used.
TEST_F(SignedDocument, FloorThatCannotBeReadRefusesTheDocument) {
    const json doc = DocumentWithTool();
    Serve(Gbk(doc), keys_->first.Sign(Gbk(doc), Comment("42")));
    const std::string reset =
        "reg add \"HKLM\\SOFTWARE\\Quelda\" /v DocumentSerial /t REG_DWORD /d 0 /f /reg:32";
    const struct {
        const char* name;
        std::function<void()> spoil;
    } cases[] = {
        {"floor not a number", [&] { PutRegString(kStore, "DocumentSerial", "forty-two"); }},
        {"earlier per-key value not a number",
         [&] { PutRegString(kStore, SerialValueName(keys_->first.KeyId()), "7"); }},
        {"registry unreadable",
         [&] {
             std::ofstream(machine.dir() / "registry.reg")
                 << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n\"x\"=";
         }},
    };
    for (const auto& c : cases) {
        fs::remove(machine.dir() / "registry.reg");
        c.spoil();
        for (int mode : {0, 2}) {
            const Ran ran = RunKeyed(mode, {keys_->first.PublicLine()});
            EXPECT_EQ(ran.log.Last("CheckNetSig"), -1) << c.name;
            const CheckFact* fact = SignatureFact(ran.report);
            ASSERT_NE(fact, nullptr) << c.name;
            EXPECT_NE(fact->note.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\DocumentSerial"),
                      std::string::npos)
                << c.name << ": " << fact->note;
            EXPECT_NE(fact->note.find(reset), std::string::npos) << c.name << ": " << fact->note;
        }
        ExpectNothingFetched(c.name);
    }
    // What the record says to do: the floor set to 0, the document is used and raises it.
    fs::remove(machine.dir() / "registry.reg");
    PutRegString(kStore, SerialValueName(keys_->first.KeyId()), "7");
    PutDword(kSerialFloorValue, 0);
    EXPECT_EQ(RunKeyed(0, {keys_->first.PublicLine()}).log.Last("CheckNetSig"), 1);
    EXPECT_EQ(Floor(), 42);
}

// A floor that cannot be raised would let the next run take the older document: the check
// fails. (The registry's lock file cannot be opened, so the store takes no change.)
TEST_F(SignedDocument, FloorThatCannotBeRaisedRefusesTheDocument) {
    const json doc = DocumentWithTool();
    Serve(Gbk(doc), keys_->first.Sign(Gbk(doc), Comment("42")));
    PutDword(kSerialFloorValue, 40);
    const fs::path lock = machine.dir() / "registry.reg.lock";
    fs::remove(lock);
    fs::create_symlink(lock.filename(), lock);
    const Ran ran = RunKeyed(0, {keys_->first.PublicLine()});
    fs::remove(lock);
    EXPECT_EQ(ran.log.Last("CheckNetSig"), -1);
    const CheckFact* fact = SignatureFact(ran.report);
    ASSERT_NE(fact, nullptr);
    EXPECT_NE(fact->note.find("无法写入"), std::string::npos) << fact->note;
    EXPECT_EQ(ran.report.documentSignature, "unverified");
    EXPECT_EQ(Floor(), 40);
    EXPECT_EQ(RunKeyed(0, {keys_->first.PublicLine()}).log.Last("CheckNetSig"), 1);
    EXPECT_EQ(Floor(), 42);
}
#endif

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

// The tool's own release, as a signed document offers it: seen at every check, never from an
// unsigned document, never one at or below the running version; below the document's
// minimum the check runs and no installer is fetched.
TEST_F(SignedDocument, AReleaseOfferIsHonouredOnlyFromAVerifiedDocument) {
    const testnet::MinisignKeys& key = keys_->first;
    ServeOffer({{"version", "1.1"},
                {"notes", "修正了检测"},
                {"msi", Package(server.Url("/files/q-1.1.msi"), std::string(64, 'a'), 4096)}});

    programVersion = ReleaseVersion{1, 0, 0, 0};
    const Ran seen = RunKeyed(0, {key.PublicLine()});
    EXPECT_EQ(seen.log.Offers(), Strings{"1.1.0.0|修正了检测"});
    EXPECT_TRUE(seen.report.update.available);
    EXPECT_FALSE(seen.report.update.mandatory);
    EXPECT_EQ(seen.log.Last("CheckCAVerSig"), 1) << "the check goes on";

    for (const ReleaseVersion& running : {ReleaseVersion{1, 1, 0, 0}, ReleaseVersion{2, 0, 0, 0}}) {
        programVersion = running;
        const Ran same = RunKeyed(0, {key.PublicLine()});
        EXPECT_TRUE(same.log.Offers().empty()) << ReleaseVersionText(running);
        EXPECT_FALSE(same.report.update.available) << ReleaseVersionText(running);
    }

    programVersion = ReleaseVersion{1, 0, 0, 0};
    server.Remove(std::string(kDocPath) + ".minisig");
    const Ran unsignedRun = RunKeyed(0, {});
    EXPECT_TRUE(unsignedRun.log.Offers().empty());
    EXPECT_FALSE(unsignedRun.report.update.available);
    const Strings m = Messages();
    EXPECT_NE(std::find(m.begin(), m.end(), "envcheck ignored: the server document is not signed"),
              m.end());
}

TEST_F(SignedDocument, BelowTheMinimumVersionTheCheckRunsButNothingIsInstalled) {
    const testnet::MinisignKeys& key = keys_->first;
    ServeOffer({{"version", "2.0"},
                {"minimumVersion", "1.5"},
                {"zip", Package(server.Url("/files/q-2.0.zip"), std::string(64, 'b'), 4096)}});
    programVersion = ReleaseVersion{1, 0, 0, 0};

    const Ran check = RunKeyed(0, {key.PublicLine()});
    EXPECT_EQ(check.log.Offers(), Strings{"2.0.0.0||mandatory"});
    EXPECT_EQ(check.log.Last("CheckCAVerSig"), 1);
    EXPECT_TRUE(check.report.update.mandatory);

    const std::string refused = "未安装：本工具版本过低，请先更新到 2.0.0.0";
    const Ran install = RunKeyed(2, {key.PublicLine()});
    EXPECT_EQ(install.log.Last("DownloadToolSig"), -3);
    EXPECT_EQ(install.log.Outcomes(), Strings{std::to_string(kToolRow) + ":" + refused});
    const Ran repair = RunKeyed(4, {key.PublicLine()}, 7);
    EXPECT_EQ(repair.log.Events().back(), "RepairFinishSig(7,-3,-3,-3)");
    EXPECT_EQ(repair.log.Outcomes().size(), 3u);
    ExpectNothingFetched("below the minimum");

    programVersion = ReleaseVersion{1, 5, 0, 0};
    EXPECT_EQ(RunKeyed(2, {key.PublicLine()}).log.Last("DownloadToolSig"), 1);
    EXPECT_EQ(InstallerRuns(), Strings{"tool-setup"});
}

// The update job over a portable copy: the offered release fetched, checked and put in place
// over the running program's folder, or refused with the old program left as it was.
class PortableUpdate : public SignedDocument {
  protected:
    void SetUp() override {
        SignedDocument::SetUp();
        program = machine.dir() / "portable";
        fs::create_directories(program);
        WritePe(program / "quelda-envcheck.exe", "1.0.0.0");
        std::ofstream(program / "Qt5Core.dll") << "old core";
        std::ofstream(program / "config.json") << "{\"mainCfg\": \"the bidder's\"}";
        before = Snapshot();
    }
    // A release zip with the program at `version`, served at /files/<name>; its sha256.
    // With a `folder`, the files are inside it, as in the zip handed out to bidders.
    std::string ServeRelease(const std::string& name, const std::string& version,
                             const std::string& folder = "") {
        const fs::path root = machine.dir() / ("stage-" + name);
        const fs::path stage = folder.empty() ? root : root / folder;
        fs::create_directories(stage / "image");
        WritePe(stage / "quelda-envcheck.exe", version);
        std::ofstream(stage / "Qt5Core.dll") << "new core";
        std::ofstream(stage / "image" / "logo.png") << "logo";
        std::ofstream(stage / "config.json") << "{\"mainCfg\": \"a sample\"}";
        const fs::path zip = machine.dir() / name;
        const std::string command = "cd '" + root.string() +
                                    "' && python3 -c \"import sys, zipfile, os; z = "
                                    "zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED); "
                                    "[z.write(os.path.join(d, f), os.path.relpath(os.path.join(d, "
                                    "f))) for d, _, fs in os.walk('.') "
                                    "for f in fs]; z.close()\" '" +
                                    zip.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        server.ServeFile("/files/" + name, zip);
        return Sha256OfFile(zip);
    }
    json Zip(const std::string& name, const std::string& sha256, std::uint64_t size) {
        return Package(server.Url("/files/" + name), sha256, size);
    }
    // Runs the update job as version 1.0; "result|text".
    std::string Update() {
        CheckThread thread(kUpdateJob, 0, server.ipPort(), kDocPath, "", 0, logger);
        thread.SetDocumentKeys(SelectDocumentKeys({}, {keys_->first.PublicLine()}));
        thread.SetProgramVersion({1, 0, 0, 0});
        thread.SetProgramFile(program / "quelda-envcheck.exe");
        std::string result;
        QObject::connect(&thread, &CheckThread::UpdateResultSig,
                         [&result](int code, const QString& text) {
                             result = std::to_string(code) + "|" + text.toStdString();
                         });
        EXPECT_TRUE(RunToEnd(thread, 60000));
        return result;
    }
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(program))
            if (e.is_regular_file())
                files[e.path().lexically_relative(program).string()] = ReadFile(e.path());
        return files;
    }
    fs::path program;
    std::map<std::string, std::string> before;
};

TEST_F(PortableUpdate, AZipThatHoldsTheProgramsFolderIsTakenFromInsideIt) {
    const std::string sha = ServeRelease("folder.zip", "1.1.0.0", "Quelda运行环境检测工具");
    const std::uint64_t size = fs::file_size(machine.dir() / "folder.zip");
    ServeOffer({{"version", "1.1"}, {"zip", Zip("folder.zip", sha, size)}});
    EXPECT_EQ(Update(), "1|已更新到 1.1.0.0，正在重新启动");
    const auto after = Snapshot();
    EXPECT_EQ(after.at("image/logo.png"), "logo");
    EXPECT_EQ(after.at("config.json"), before.at("config.json"));
    EXPECT_EQ(after.count("Quelda运行环境检测工具/Qt5Core.dll"), 0u) << "not a folder inside";
}

TEST_F(PortableUpdate, TheOfferedReleaseReplacesTheProgramAndKeepsTheUsersSettings) {
    const std::string sha = ServeRelease("release.zip", "1.1.0.0");
    const std::uint64_t size = fs::file_size(machine.dir() / "release.zip");
    ServeOffer({{"version", "1.1"}, {"zip", Zip("release.zip", sha, size)}});
    EXPECT_EQ(Update(), "1|已更新到 1.1.0.0，正在重新启动");
    const auto after = Snapshot();
    EXPECT_EQ(after.at("Qt5Core.dll"), "new core");
    EXPECT_EQ(after.at("image/logo.png"), "logo");
    EXPECT_EQ(after.at("config.json"), before.at("config.json")) << "the bidder's own";
    std::string version;
    __time64_t written = 0;
    ASSERT_EQ(GetFileVersionTime(program, "quelda-envcheck.exe", written, version), 1);
    EXPECT_EQ(version, "1.1.0.0");
    // The running program's file was renamed aside, as Windows allows; the next start
    // removes it.
    EXPECT_EQ(after.at("quelda-envcheck.exe.old-1"), before.at("quelda-envcheck.exe"));
    EXPECT_EQ(RemoveOldProgramFiles(program), 0);
    EXPECT_EQ(Snapshot().count("quelda-envcheck.exe.old-1"), 0u);
    EXPECT_TRUE(DownloadedFiles("update").empty());
}

TEST_F(PortableUpdate, EveryRefusalLeavesTheOldProgramAsItWas) {
    const std::string sha = ServeRelease("release.zip", "1.1.0.0");
    const std::uint64_t size = fs::file_size(machine.dir() / "release.zip");
    const std::string lowerSha = ServeRelease("lower.zip", "1.0.0.5");
    const std::uint64_t lowerSize = fs::file_size(machine.dir() / "lower.zip");
    std::string changed = sha;
    changed[0] = changed[0] == '0' ? '1' : '0';
    json signedZip = Zip("release.zip", sha, size);
    signedZip["signer"] = "Quelda Co., Ltd.";
    struct Case {
        const char* name;
        json release;
        std::string result;
    };
    const Case cases[] = {
        {"a changed byte",
         {{"version", "1.1"}, {"zip", Zip("release.zip", changed, size)}},
         "-2|新版本未安装：下载失败：sha256 不符"},
        {"larger than its size",
         {{"version", "1.1"}, {"zip", Zip("release.zip", sha, size - 1)}},
         "-2|新版本未安装：下载失败：安装程序大于服务器配置给出的大小（" +
             std::to_string(size - 1) + " 字节）"},
        {"an older program inside",
         {{"version", "1.1"}, {"zip", Zip("lower.zip", lowerSha, lowerSize)}},
         "-2|新版本未安装：更新包中的程序版本是 1.0.0.5，不是 1.1.0.0"},
        {"a publisher it does not have",
         {{"version", "1.1"}, {"zip", signedZip}},
         "-2|新版本未安装：安装程序未启动：没有数字签名"},
        {"the running version",
         {{"version", "1.0"}, {"zip", Zip("release.zip", sha, size)}},
         "0|没有可安装的新版本"},
        {"no zip",
         {{"version", "1.1"}, {"msi", Zip("release.zip", sha, size)}},
         "-2|服务器配置没有给出新版本的便携包（zip）"},
    };
    for (const Case& c : cases) {
        ServeOffer(c.release);
        const std::string result = Update();
        EXPECT_EQ(result.substr(0, result.find('|') + 1),
                  c.result.substr(0, c.result.find('|') + 1))
            << c.name << ": " << result;
        EXPECT_EQ(result.rfind(c.result, 0), 0u) << c.name << ": " << result;
        EXPECT_EQ(Snapshot(), before) << c.name;
    }
    // From an unsigned document nothing is offered at all.
    json doc = DocumentWithTool();
    doc["envcheck"] = {{"version", "1.1"}, {"zip", Zip("release.zip", sha, size)}};
    server.ServeBytes(kDocPath, Gbk(doc));
    server.Remove(std::string(kDocPath) + ".minisig");
    CheckThread thread(kUpdateJob, 0, server.ipPort(), kDocPath, "", 0, logger);
    thread.SetProgramVersion({1, 0, 0, 0});
    thread.SetProgramFile(program / "quelda-envcheck.exe");
    int code = 99;
    QObject::connect(&thread, &CheckThread::UpdateResultSig,
                     [&code](int c, const QString&) { code = c; });
    EXPECT_TRUE(RunToEnd(thread, 60000));
    EXPECT_EQ(code, kUpdateNothing);
    EXPECT_EQ(Snapshot(), before);
}

// A copy the MSI package installed: the new package's silent major upgrade, through the
// system folder's msiexec (here a stand-in that notes its command line and working folder).
TEST_F(PortableUpdate, AnMsiCopyRunsThePackagesSilentUpgradeAndReadsItsExitCode) {
    const fs::path installed = machine.Native("C:\\Program Files\\Quelda");
    fs::create_directories(installed);
    WritePe(installed / "quelda-envcheck.exe", "1.0.0.0");
    PutRegString("计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Quelda\\EnvCheck", "InstallFolder",
                 "C:\\Program Files\\Quelda");
    program = installed;
    const std::string package = "package bytes";
    server.ServeBytes("/files/quelda-1.1.msi", package);
    const fs::path msiexec = machine.Native("C:\\Windows\\System32\\msiexec.exe");
    fs::create_directories(msiexec.parent_path());
    const fs::path noted = machine.dir() / "msiexec.args";
    const fs::path code = machine.dir() / "msiexec.code";
    // It notes whether the running program's file was still at its name (Windows Installer
    // would find it in use), and on success puts the new program there.
    const fs::path exe = installed / "quelda-envcheck.exe";
    std::ofstream(msiexec) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << noted.string()
                           << "'\npwd >> '" << noted.string() << "'\n[ -e '" << exe.string()
                           << "' ] && echo in-use >> '" << noted.string() << "'\ncat '"
                           << code.string() << "' > \"$WINSHIM_EXIT_CODE_FILE\"\n"
                           << "grep -q 1603 '" << code.string() << "' || echo new > '"
                           << exe.string() << "'\n";
    fs::permissions(msiexec, fs::perms::owner_all);
    ServeOffer({{"version", "1.1"},
                {"zip", Zip("quelda-1.1.msi", std::string(64, 'c'), package.size())},
                {"msi", Zip("quelda-1.1.msi", Sha256Of(package), package.size())}});
    struct Case {
        const char* exitCode;
        std::string result;
    };
    const Case cases[] = {
        {"0", "1|已更新到 1.1.0.0，正在重新启动"},
        {"3010", "2|已更新到 1.1.0.0，重启电脑后生效"},
        {"1603", "-3|新版本未安装：安装程序退出码 1603"},
    };
    for (const Case& c : cases) {
        std::ofstream(code) << c.exitCode << "\n";
        const std::string result = Update();
        EXPECT_EQ(result.rfind(c.result, 0), 0u) << c.exitCode << ": " << result;
        std::vector<std::string> args;
        std::ifstream in(noted);
        for (std::string line; std::getline(in, line);)
            args.push_back(line);
        ASSERT_EQ(args.size(), 5u) << c.exitCode;
        EXPECT_EQ(args[0], "/i");
        EXPECT_EQ(WithoutRunStamp(args[1]), (RunFolder("update") / "quelda-envcheck.msi").string());
        EXPECT_EQ(args[2], "/qn");
        EXPECT_EQ(args[3], "REBOOT=ReallySuppress");
        EXPECT_EQ(WithoutRunStamp(args[4]), RunFolder("update").string()) << "its working folder";
        fs::remove(noted);
        // Installed: the new program at its name, the old one aside for the next start to
        // remove; failed: the old program back in place.
        const bool installedNew = std::string(c.exitCode) != "1603";
        EXPECT_EQ(ReadFile(exe) == "new\n", installedNew) << c.exitCode;
        RemoveOldProgramFiles(installed);
        WritePe(exe, "1.0.0.0");
    }
    EXPECT_TRUE(DownloadedFiles("update").empty());

    // Without a package for it, an MSI copy is not updated from the zip.
    ServeOffer(
        {{"version", "1.1"}, {"zip", Zip("quelda-1.1.msi", Sha256Of(package), package.size())}});
    EXPECT_EQ(Update(), "-2|服务器配置没有给出新版本的安装包（msi）");
    EXPECT_FALSE(fs::exists(noted));
}

} // namespace
