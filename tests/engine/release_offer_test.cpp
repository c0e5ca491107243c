// The "envcheck" member: which versions and packages are sound, and what an offer means to
// the running program.
#include "engine/update/release_offer.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

TEST(ReleaseOffer, VersionsAreOneToFourDecimalNumbers) {
    struct Case {
        const char* text;
        bool valid;
        ReleaseVersion parsed;
    };
    const Case cases[] = {
        {"1", true, {1, 0, 0, 0}},
        {"1.1", true, {1, 1, 0, 0}},
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"999999999.0", true, {999999999, 0, 0, 0}},
        {"1.2.3.4.5", false, {}},
        {"1..2", false, {}},
        {"1.", false, {}},
        {"", false, {}},
        {"v1.0", false, {}},
        {"1.0 ", false, {}},
        {"1234567890", false, {}}, // past 32 bits' reach
    };
    for (const Case& c : cases) {
        ReleaseVersion v{9, 9, 9, 9};
        EXPECT_EQ(ParseReleaseVersion(c.text, v), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(v, c.parsed) << c.text;
        }
    }
    // Compared part by part as numbers, not as text.
    ReleaseVersion a{}, b{};
    ASSERT_TRUE(ParseReleaseVersion("1.10", a) && ParseReleaseVersion("1.9.9.9", b));
    EXPECT_GT(a, b);
}

TEST(ReleaseOffer, EveryFaultIsNamedWithItsPlace) {
    const json package = {
        {"url", "https://bid.example/q.msi"}, {"sha256", std::string(64, 'a')}, {"size", 10}};
    const json sound = {{"version", "1.1"}, {"msi", package}};
    EXPECT_TRUE(ReleaseOfferProblems(sound).empty()) << sound.dump();
    struct Case {
        json member;
        const char* problem;
    };
    auto with = [&](const char* key, json value) {
        json m = {{"version", "1.1"}, {"msi", package}};
        m[key] = std::move(value);
        return m;
    };
    json noSha = package;
    noSha.erase("sha256");
    json noSize = package;
    noSize.erase("size");
    json ftp = package;
    ftp["url"] = "ftp://bid.example/q.msi";
    const Case cases[] = {
        {json::array(), "envcheck: must be an object"},
        {json::object({{"msi", package}}), "envcheck.version:"},
        {with("version", "1.x"), "envcheck.version:"},
        {with("minimumVersion", "2.0"), "envcheck.minimumVersion: above the version offered"},
        {with("notes", std::string(5000, 'n')), "envcheck.notes:"},
        {with("msi", noSha), "envcheck.msi.sha256:"},
        {with("msi", noSize), "envcheck.msi.size:"},
        {with("zip", ftp), "envcheck.zip.url:"},
        {with("zip", {{"url", "https://x/z"},
                      {"sha256", std::string(64, 'c')},
                      {"size", 1},
                      {"signer", ""}}),
         "envcheck.zip.signer:"},
        {json::object({{"version", "1.1"}}), "names neither an msi nor a zip"},
    };
    for (const Case& c : cases) {
        const auto problems = ReleaseOfferProblems(c.member);
        ASSERT_EQ(problems.size(), 1u) << c.member.dump() << "\n" << problems[0];
        EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
        ReleaseOffer offer;
        std::string why;
        EXPECT_FALSE(ReadReleaseOffer(c.member, offer, why));
        EXPECT_EQ(why, problems[0]);
    }
}

TEST(ReleaseOffer, OnlyANewerReleaseIsOfferedAndTheMinimumMakesItMandatory) {
    ReleaseOffer offer;
    ASSERT_TRUE(ParseReleaseVersion("2.0", offer.version));
    offer.minimumVersion = ReleaseVersion{1, 5, 0, 0};
    offer.notes = "n";
    struct Case {
        ReleaseVersion running;
        bool available;
        bool mandatory;
    };
    const Case cases[] = {
        {{1, 0, 0, 0}, true, true},  {{1, 4, 9, 9}, true, true},   {{1, 5, 0, 0}, true, false},
        {{1, 9, 0, 0}, true, false}, {{2, 0, 0, 0}, false, false}, {{3, 0, 0, 0}, false, false},
    };
    for (const Case& c : cases) {
        const UpdateState state = EvaluateReleaseOffer(offer, c.running);
        EXPECT_EQ(state.available, c.available) << ReleaseVersionText(c.running);
        EXPECT_EQ(state.mandatory, c.mandatory) << ReleaseVersionText(c.running);
        EXPECT_EQ(state.version, c.available ? "2.0.0.0" : "") << ReleaseVersionText(c.running);
    }
}

} // namespace
