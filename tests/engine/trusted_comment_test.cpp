// The trusted comment's words and the UTC times they carry.
#include "engine/trust/document_signature.h"
#include "engine/trust/trusted_comment.h"

#include <gtest/gtest.h>

namespace {

TEST(TrustedComment, WordsInAnyOrderOthersIgnored) {
    struct Case {
        const char* comment;
        bool parses;
        std::optional<std::uint64_t> serial;
        std::optional<long long> expires;
        std::optional<long long> signedAt;
    };
    const long long march2027 = 1803859200; // 2027-03-01T00:00:00Z
    const Case cases[] = {
        {"serial=42 expires=2027-03-01T00:00:00Z", true, 42, march2027, {}},
        {"expires=2027-03-01T00:00:00Z  note=x\tserial=7 file:config.json", true, 7, march2027, {}},
        {"timestamp:1700000000\tfile:config.json\thashed", true, {}, {}, 1700000000},
        {"serial=1 signed=2027-03-01T00:00:00Z", true, 1, {}, march2027},
        {"serial=4294967295", true, 4294967295u, {}, {}},
        {"", true, {}, {}, {}},
        {"serial=4294967296", false, {}, {}, {}},
        {"serial=-1", false, {}, {}, {}},
        {"serial=", false, {}, {}, {}},
        {"serial=1 serial=1", false, {}, {}, {}},
        {"expires=2027-03-01", false, {}, {}, {}},
        {"expires=2027-03-01T00:00:00+08:00", false, {}, {}, {}},
        {"serial=1 expires=2027-02-29T00:00:00Z", false, {}, {}, {}},
        {"signed=x", false, {}, {}, {}},
        {"serialnumber=3 expiresAt=2027", true, {}, {}, {}},
    };
    for (const Case& c : cases) {
        TrustedComment parsed;
        std::string why;
        EXPECT_EQ(ParseTrustedComment(c.comment, parsed, why), c.parses) << c.comment;
        if (!c.parses) {
            EXPECT_FALSE(why.empty()) << c.comment;
            continue;
        }
        EXPECT_EQ(parsed.serial, c.serial) << c.comment;
        EXPECT_EQ(parsed.expires, c.expires) << c.comment;
        EXPECT_EQ(parsed.signedAt, c.signedAt) << c.comment;
    }
}

TEST(TrustedComment, UtcTimesRoundTrip) {
    const char* valid[] = {"1970-01-01T00:00:00Z", "2000-02-29T23:59:59Z", "2024-12-31T12:00:00Z",
                           "2038-01-19T03:14:08Z", "9999-12-31T23:59:59Z"};
    for (const char* text : valid) {
        const auto seconds = ParseUtcTime(text);
        ASSERT_TRUE(seconds) << text;
        EXPECT_EQ(UtcTimeText(*seconds), text);
    }
    EXPECT_EQ(ParseUtcTime("2038-01-19T03:14:08Z"), 2147483648LL);
    const char* invalid[] = {
        "1969-12-31T23:59:59Z", "2100-02-29T00:00:00Z", "2024-13-01T00:00:00Z",
        "2024-04-31T00:00:00Z", "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z",
        "2024-01-01 00:00:00Z", "2024-01-01T00:00:00z", "+024-01-01T00:00:00Z"};
    for (const char* text : invalid)
        EXPECT_FALSE(ParseUtcTime(text)) << text;
}

TEST(DocumentSignature, MalformedFilesAndKeysAreNamed) {
    MinisignPublicKey key;
    std::string why;
    EXPECT_FALSE(ParseMinisignPublicKey("RWQ=", key, why));
    EXPECT_FALSE(ParseMinisignPublicKey("", key, why));
    // A .pub file whole, with CRLF line ends, is taken as its key line.
    EXPECT_TRUE(
        ParseMinisignPublicKey("untrusted comment: minisign public key 56B1F587ECDB3248\r\n"
                               "RWRIMtvsh/WxVrs0UXjB5qT/E3Wjrs8tQjax2TWiOxtPHxzAdU0ICTYq\r\n",
                               key, why))
        << why;
    EXPECT_EQ(KeyIdText(key.keyId), "56B1F587ECDB3248");

    const std::string good = "untrusted comment: signature from minisign secret key\n"
                             "RURIMtvsh/WxVhYWt6z/Y1kL74dGKr72eBFo6T+wyLhHFplXNTTuNQ0+X0/"
                             "nIcGcHf4MO7y+wuQs8yYUxGhJwlfhiL3HU"
                             "SAsCAc=\n"
                             "trusted comment: serial=42 expires=2027-03-01T00:00:00Z\n"
                             "HHSimjaZVh6hGq+bo28qdBIOaKPd9FhmfLpaGukIAwfZx2vRUq87+"
                             "5aafDqHcbbWrbKSdIU7of9aSopMRhO8DQ==\n";
    const std::string document = "{\"a\":1}\n";
    const long long before = 1803859200 - 10;
    const auto verdict = [&](const std::string& file, long long now,
                             const AcceptedSerialLookup& accepted = nullptr) {
        return VerifyDocumentSignature(document, file, {key}, now, accepted).outcome;
    };
    EXPECT_EQ(verdict(good, before), SignatureOutcome::Accepted);
    EXPECT_EQ(verdict(good, 1803859200 + 1), SignatureOutcome::Expired);
    EXPECT_EQ(VerifyDocumentSignature(document + " ", good, {key}, before).outcome,
              SignatureOutcome::BadSignature);
    const auto floor = [](std::uint64_t value) {
        return [value](const std::string&, std::uint64_t& serial) {
            serial = value;
            return true;
        };
    };
    EXPECT_EQ(verdict(good, before, floor(42)), SignatureOutcome::Accepted);
    EXPECT_EQ(verdict(good, before, floor(43)), SignatureOutcome::Rollback);

    std::string noUntrusted = good.substr(good.find('\n') + 1);
    std::string lineEnds = good;
    for (std::size_t at = lineEnds.find('\n'); at != std::string::npos;
         at = lineEnds.find('\n', at + 2))
        lineEnds.insert(at, "\r");
    EXPECT_EQ(verdict(lineEnds, before), SignatureOutcome::Accepted);
    const std::string malformed[] = {"", noUntrusted, good + "extra\n",
                                     // The signature line cut by one base64 group.
                                     std::string(good).erase(good.find("RURI"), 4)};
    for (const std::string& file : malformed)
        EXPECT_EQ(verdict(file, before), SignatureOutcome::Malformed) << file;
    EXPECT_EQ(VerifyDocumentSignature(document, good, {}, before).outcome,
              SignatureOutcome::NoUsableKey);
}

} // namespace
