#pragma once

// The tool's own release as a signed server document names it, in the top-level member
// "envcheck":
//   {"version": "1.1.0.0", "minimumVersion": "1.0.0.0", "notes": "…",
//    "msi": {"url", "sha256", "size", "signer"}, "zip": {"url", "sha256", "size", "signer"}}
// Only `version` is required; a package needs `url`, `sha256` and `size` (an update is
// never fetched on weaker terms than a signed document's installers), `signer` is optional.

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr char kReleaseMember[] = "envcheck";

// A version of one to four decimal numbers ("1.1", "1.1.0.0"); missing parts are 0.
using ReleaseVersion = std::array<std::uint32_t, 4>;
bool ParseReleaseVersion(const std::string& text, ReleaseVersion& version);
// "a.b.c.d".
std::string ReleaseVersionText(const ReleaseVersion& version);

struct ReleasePackage {
    std::string url;
    std::string sha256;
    std::uint64_t size = 0;
    std::optional<std::string> signer;
};

struct ReleaseOffer {
    ReleaseVersion version{};
    std::optional<ReleaseVersion> minimumVersion;
    std::string notes;
    std::optional<ReleasePackage> msi;
    std::optional<ReleasePackage> zip;
};

// Every fault of the member, each with its place ("envcheck.msi.sha256: …"); empty when it
// is sound. `member` is the value of "envcheck".
std::vector<std::string> ReleaseOfferProblems(const nlohmann::json& member);

// The offer of a sound member; false (with the first problem in `why`) otherwise.
bool ReadReleaseOffer(const nlohmann::json& member, ReleaseOffer& offer, std::string& why);

// What an offer means to a program of version `running`: a newer release is available; the
// program is below the minimum, so that it may repair nothing until it is updated. A
// release at or below the running version is never offered, whatever the document says.
struct UpdateState {
    bool available = false;
    bool mandatory = false;
    std::string version;        // the offered release, "a.b.c.d"; empty when none is available
    std::string minimumVersion; // with mandatory: the lowest version that may repair
    std::string notes;
};
UpdateState EvaluateReleaseOffer(const ReleaseOffer& offer, const ReleaseVersion& running);
