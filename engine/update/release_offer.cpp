#include "engine/update/release_offer.h"

#include <cctype>

using nlohmann::json;

namespace {

constexpr std::size_t kNotesMax = 4000;
constexpr std::size_t kUrlMax = 2000;
constexpr std::size_t kSignerMax = 256;

bool HexDigest(const std::string& text) {
    if (text.size() != 64)
        return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// A whole number above 0, whether it was read as unsigned (from text) or made as a signed one.
bool PositiveWhole(const json& value) {
    return value.is_number_integer() &&
           (value.is_number_unsigned() ? value.get<std::uint64_t>() > 0
                                       : value.get<std::int64_t>() > 0);
}

bool HttpUrl(const std::string& url) {
    return url.size() <= kUrlMax &&
           (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0) &&
           url.find_first_of(" \t\r\n") == std::string::npos;
}

void PackageProblems(const json& package, const std::string& path,
                     std::vector<std::string>& problems) {
    if (!package.is_object()) {
        problems.push_back(path + ": must be an object");
        return;
    }
    const auto url = package.find("url");
    if (url == package.end() || !url->is_string() || !HttpUrl(url->get<std::string>()))
        problems.push_back(path + ".url: must be an http:// or https:// URL");
    const auto sha = package.find("sha256");
    if (sha == package.end() || !sha->is_string() || !HexDigest(sha->get<std::string>()))
        problems.push_back(path + ".sha256: must be 64 hexadecimal digits");
    const auto size = package.find("size");
    if (size == package.end() || !PositiveWhole(*size))
        problems.push_back(path + ".size: must be a whole number of bytes above 0");
    const auto signer = package.find("signer");
    if (signer != package.end() && (!signer->is_string() || signer->get<std::string>().empty() ||
                                    signer->get<std::string>().size() > kSignerMax ||
                                    signer->get<std::string>().find('\0') != std::string::npos))
        problems.push_back(path + ".signer: must be a publisher's name");
}

ReleasePackage PackageOf(const json& package) {
    ReleasePackage p;
    p.url = package.at("url").get<std::string>();
    p.sha256 = package.at("sha256").get<std::string>();
    p.size = package.at("size").get<std::uint64_t>();
    if (package.contains("signer"))
        p.signer = package.at("signer").get<std::string>();
    return p;
}

} // namespace

bool ParseReleaseVersion(const std::string& text, ReleaseVersion& version) {
    ReleaseVersion parsed{};
    std::size_t part = 0, at = 0;
    while (true) {
        if (part == parsed.size() || at >= text.size() ||
            !std::isdigit(static_cast<unsigned char>(text[at])))
            return false;
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            if (++digits > 9) // below 2^32 whatever the digits
                return false;
            ++at;
        }
        parsed[part++] = static_cast<std::uint32_t>(value);
        if (at == text.size())
            break;
        if (text[at++] != '.')
            return false;
    }
    version = parsed;
    return true;
}

std::string ReleaseVersionText(const ReleaseVersion& version) {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

std::vector<std::string> ReleaseOfferProblems(const json& member) {
    const std::string base = kReleaseMember;
    std::vector<std::string> problems;
    if (!member.is_object()) {
        problems.push_back(base + ": must be an object");
        return problems;
    }
    ReleaseVersion version{};
    const auto v = member.find("version");
    if (v == member.end() || !v->is_string() ||
        !ParseReleaseVersion(v->get<std::string>(), version))
        problems.push_back(base + ".version: must be one to four decimal numbers a.b.c.d");
    const auto minimum = member.find("minimumVersion");
    ReleaseVersion floor{};
    if (minimum != member.end()) {
        if (!minimum->is_string() || !ParseReleaseVersion(minimum->get<std::string>(), floor))
            problems.push_back(base +
                               ".minimumVersion: must be one to four decimal numbers a.b.c.d");
        else if (problems.empty() && floor > version)
            problems.push_back(base + ".minimumVersion: above the version offered");
    }
    const auto notes = member.find("notes");
    if (notes != member.end() &&
        (!notes->is_string() || notes->get<std::string>().size() > kNotesMax))
        problems.push_back(base + ".notes: must be a text of at most " + std::to_string(kNotesMax) +
                           " bytes");
    bool anyPackage = false;
    for (const char* kind : {"msi", "zip"}) {
        const auto package = member.find(kind);
        if (package == member.end())
            continue;
        anyPackage = true;
        PackageProblems(*package, base + "." + kind, problems);
    }
    if (!anyPackage)
        problems.push_back(base + ": names neither an msi nor a zip package");
    return problems;
}

bool ReadReleaseOffer(const json& member, ReleaseOffer& offer, std::string& why) {
    const std::vector<std::string> problems = ReleaseOfferProblems(member);
    if (!problems.empty()) {
        why = problems.front();
        return false;
    }
    ReleaseOffer read;
    ParseReleaseVersion(member.at("version").get<std::string>(), read.version);
    if (member.contains("minimumVersion")) {
        ReleaseVersion floor{};
        ParseReleaseVersion(member.at("minimumVersion").get<std::string>(), floor);
        read.minimumVersion = floor;
    }
    if (member.contains("notes"))
        read.notes = member.at("notes").get<std::string>();
    if (member.contains("msi"))
        read.msi = PackageOf(member.at("msi"));
    if (member.contains("zip"))
        read.zip = PackageOf(member.at("zip"));
    offer = read;
    return true;
}

UpdateState EvaluateReleaseOffer(const ReleaseOffer& offer, const ReleaseVersion& running) {
    UpdateState state;
    if (offer.version <= running)
        return state;
    state.available = true;
    state.version = ReleaseVersionText(offer.version);
    state.notes = offer.notes;
    state.mandatory = offer.minimumVersion && running < *offer.minimumVersion;
    if (state.mandatory)
        state.minimumVersion = ReleaseVersionText(*offer.minimumVersion);
    return state;
}
