#include "document_validation.h"

#include "sha256_fill.h"

#include "common/text/host_syntax.h"
#include "engine/region.h"
#include "engine/region_table.h"
#include "engine/update/release_offer.h"

#include <algorithm>

#include <array>

namespace {

const std::array<const char*, 10> kRegistryRoots = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",
    "HKEY_LOCAL_MACHINE",    "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG",
    "HKEY_DYN_DATA",         "HKEY_CURRENT_USER_LOCAL_SETTINGS",
    "HKEY_PERFORMANCE_TEXT", "HKEY_PERFORMANCE_NLSTEXT"};

bool IsRegistryRoot(const std::string& name) {
    for (const char* root : kRegistryRoots)
        if (name == root)
            return true;
    return false;
}

bool HasSpaceOrControl(const std::string& s) {
    for (unsigned char c : s)
        if (c <= 0x20 || c == 0x7F)
            return true;
    return false;
}

std::string TypeName(const Document& v) {
    return v.type_name();
}

class Validator {
  public:
    explicit Validator(const std::string& placeholder) : placeholder_(placeholder) {}

    std::vector<Problem> Run(const Document& doc) {
        if (!doc.is_object()) {
            Add("(document)", "must be a JSON object with the members shanxi, hebei, neimeng");
            return problems_;
        }
        for (const RegionEntry& entry : kRegions) {
            const char* region = entry.key;
            auto it = doc.find(region);
            if (it == doc.end())
                Add(region, "region is missing");
            else if (!it->is_object())
                Add(region, "must be an object (found " + TypeName(*it) + ")");
            else
                Region(region, *it);
        }
        if (doc.contains("support"))
            Support(doc);
        if (doc.contains(kReleaseMember))
            Release(doc[kReleaseMember]);
        CheckAllTexts("", doc);
        return problems_;
    }

  private:
    // The tool's own release; its package URLs may begin with the placeholder as the
    // installers' do.
    void Release(const Document& member) {
        nlohmann::json release = nlohmann::json::parse(member.dump());
        for (const char* kind : {"msi", "zip"}) {
            if (!release.contains(kind) || !release[kind].is_object() ||
                !release[kind].contains("url") || !release[kind]["url"].is_string())
                continue;
            nlohmann::json& url = release[kind]["url"];
            const std::string text = url.get<std::string>();
            if (const std::string problem = CheckInstallerUrl(text, placeholder_); !problem.empty())
                Add(std::string(kReleaseMember) + "." + kind + ".url", problem);
            else if (!placeholder_.empty() && text.rfind(placeholder_, 0) == 0)
                url = "http://placeholder" + text.substr(placeholder_.size());
        }
        for (const std::string& problem : ReleaseOfferProblems(release)) {
            const std::size_t colon = problem.find(": ");
            const std::string path = problem.substr(0, colon);
            // The URL's own check above said it better.
            if (path.size() > 4 && path.compare(path.size() - 4, 4, ".url") == 0 &&
                std::any_of(problems_.begin(), problems_.end(),
                            [&](const Problem& p) { return p.path == path; }))
                continue;
            Add(path, colon == std::string::npos ? problem : problem.substr(colon + 2));
        }
    }

    void Add(const std::string& path, const std::string& message) {
        problems_.push_back({path, message});
    }

    // The object member `name` of `parent`, or null (with a problem) when it is missing or
    // not an object.
    const Document* Object(const std::string& path, const Document& parent, const char* name) {
        auto it = parent.find(name);
        if (it == parent.end()) {
            Add(path, "missing");
            return nullptr;
        }
        if (!it->is_object()) {
            Add(path, "must be an object (found " + TypeName(*it) + ")");
            return nullptr;
        }
        return &*it;
    }

    // The string member `name`, or null (with a problem) when it is missing or not a string.
    const std::string* Text(const std::string& base, const Document& obj, const char* name) {
        std::string path = base + "." + name;
        auto it = obj.find(name);
        if (it == obj.end()) {
            Add(path, "missing");
            return nullptr;
        }
        if (!it->is_string()) {
            Add(path, "must be a string (found " + TypeName(*it) + ")");
            return nullptr;
        }
        return &it->get_ref<const std::string&>();
    }

    void Checked(const std::string& base, const Document& obj, const char* name,
                 std::string (*check)(const std::string&)) {
        if (const std::string* s = Text(base, obj, name)) {
            std::string problem = check(*s);
            if (!problem.empty())
                Add(base + "." + name, problem);
        }
    }

    void NonEmpty(const std::string& base, const Document& obj, const char* name) {
        if (const std::string* s = Text(base, obj, name); s && s->empty())
            Add(base + "." + name, "must not be empty");
    }

    void Url(const std::string& base, const Document& obj) {
        if (const std::string* s = Text(base, obj, "url")) {
            std::string problem = CheckInstallerUrl(*s, placeholder_);
            if (!problem.empty())
                Add(base + ".url", problem);
        }
        auto it = obj.find("sha256");
        if (it != obj.end()) {
            if (!it->is_string())
                Add(base + ".sha256", "must be a string (found " + TypeName(*it) + ")");
            else if (std::string problem = CheckSha256Text(it->get<std::string>());
                     !problem.empty())
                Add(base + ".sha256", problem);
        }
        Size(base, obj);
        Signer(base, obj);
        SilentArgs(base, obj);
    }

    // The optional arguments of a run with nobody at the screen: one line of a command line.
    void SilentArgs(const std::string& base, const Document& obj) {
        auto it = obj.find("silentArgs");
        if (it == obj.end() || it->is_null())
            return;
        const std::string path = base + ".silentArgs";
        if (!it->is_string()) {
            Add(path, "must be a string (found " + TypeName(*it) + ")");
            return;
        }
        const std::string& args = it->get_ref<const std::string&>();
        if (args.size() > kSilentArgsLimit)
            Add(path, "longer than " + std::to_string(kSilentArgsLimit) + " bytes");
        else if (std::any_of(args.begin(), args.end(),
                             [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
            Add(path, "must be one line without control characters");
    }

    // The optional length of the installer in bytes, which bounds its download.
    void Size(const std::string& base, const Document& obj) {
        auto it = obj.find("size");
        if (it != obj.end() && !it->is_null() &&
            (!it->is_number_unsigned() || it->get<std::uint64_t>() == 0))
            Add(base + ".size",
                "must be a whole number of bytes above 0 (found " + it->dump() + ")");
    }

    // The optional name the installer's Authenticode signature must carry.
    void Signer(const std::string& base, const Document& obj) {
        auto it = obj.find("signer");
        if (it == obj.end())
            return;
        const std::string path = base + ".signer";
        if (!it->is_string()) {
            Add(path, "must be a string (found " + TypeName(*it) + ")");
            return;
        }
        const std::string& name = it->get_ref<const std::string&>();
        if (name.empty())
            Add(path, "must not be empty");
        else if (name.size() > 256)
            Add(path, "must be at most 256 bytes");
        else if (name.front() == ' ' || name.back() == ' ')
            Add(path, "must not begin or end with a space (the name is compared exactly)");
        for (unsigned char c : name)
            if (c < 0x20 || c == 0x7f) {
                Add(path, "must not contain control characters");
                break;
            }
    }

    // Where the tool uploads a report when the person asks: a URL like an installer's.
    void Support(const Document& doc) {
        if (const Document* support = Object("support", doc, "support")) {
            if (const std::string* url = Text("support", *support, "reportUrl")) {
                std::string problem = CheckInstallerUrl(*url, placeholder_);
                if (!problem.empty())
                    Add("support.reportUrl", problem);
            }
        }
    }

    void Region(const std::string& region, const Document& section) {
        std::string path = region + ".framework";
        if (const Document* fw = Object(path, section, "framework")) {
            Checked(path, *fw, "path", CheckRegistryPath);
            Url(path, *fw);
        }
        path = region + ".tool";
        if (const Document* tool = Object(path, section, "tool")) {
            Checked(path, *tool, "path", CheckRegistryPath);
            Text(path, *tool, "key");
            NonEmpty(path, *tool, "fileName");
            NonEmpty(path, *tool, "fileVersion");
            Url(path, *tool);
        }
        IeSites(region + ".ieSites", section);
        path = region + ".driver";
        auto it = section.find("driver");
        if (it == section.end()) {
            Add(path, "missing (use [] for a region without CA driver components)");
        } else if (it->is_array()) {
            for (size_t i = 0; i < it->size(); ++i)
                Driver(path + "[" + std::to_string(i) + "]", (*it)[i]);
        } else if (it->is_object()) {
            for (auto& [name, entry] : it->items())
                Driver(path + "." + name, entry);
        } else {
            Add(path,
                "must be an array (or object) of driver entries (found " + TypeName(*it) + ")");
        }
    }

    // Optional: the hosts besides the portal that Edge opens in IE mode.
    void IeSites(const std::string& path, const Document& section) {
        auto it = section.find("ieSites");
        if (it == section.end())
            return;
        if (!it->is_array()) {
            Add(path, "must be an array of hosts (found " + TypeName(*it) + ")");
            return;
        }
        if (it->size() > kMaxSiteHosts)
            Add(path, "must list at most " + std::to_string(kMaxSiteHosts) + " hosts");
        for (size_t i = 0; i < it->size(); ++i) {
            const std::string where = path + "[" + std::to_string(i) + "]";
            const Document& host = (*it)[i];
            if (!host.is_string())
                Add(where, "must be a string (found " + TypeName(host) + ")");
            else if (std::string problem = SiteHostProblem(host.get<std::string>());
                     !problem.empty())
                Add(where, problem);
        }
    }

    void Driver(const std::string& path, const Document& entry) {
        if (!entry.is_object()) {
            Add(path, "must be an object (found " + TypeName(entry) + ")");
            return;
        }
        Checked(path, entry, "path", CheckRegistryPath);
        Text(path, entry, "key");
        NonEmpty(path, entry, "fileName");
        Checked(path, entry, "fileVersion", CheckFileVersion);
        Checked(path, entry, "fileModifyDtm", CheckModifyTime);
        Url(path, entry);
    }

    // The document is sent in GBK: a character without a GBK code would be lost on the way.
    void CheckAllTexts(const std::string& path, const Document& v) {
        auto join = [&](const std::string& name) {
            return path.empty() ? name : path + "." + name;
        };
        if (v.is_string()) {
            if (!EncodableInGbk(v.get_ref<const std::string&>()))
                Add(path, "contains characters that GBK cannot encode");
        } else if (v.is_object()) {
            for (auto& [name, item] : v.items()) {
                if (!EncodableInGbk(name))
                    Add(join(name), "the member name contains characters that GBK cannot encode");
                CheckAllTexts(join(name), item);
            }
        } else if (v.is_array()) {
            for (size_t i = 0; i < v.size(); ++i)
                CheckAllTexts(path + "[" + std::to_string(i) + "]", v[i]);
        }
    }

    std::string placeholder_;
    std::vector<Problem> problems_;
};

// The runs of decimal digits of `text`, which must be digits separated by exactly the
// characters of `separators` in that order (".." for "1.2.3"); each run at most `widest`
// digits long. No regular expression: std::regex recurses per character, and a long value
// would overflow the stack.
bool DecimalRuns(const std::string& text, const std::string& separators, std::size_t widest,
                 std::vector<std::string>& runs) {
    runs.clear();
    std::string run;
    std::size_t next = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (run.size() == widest)
                return false;
            run += c;
        } else if (next < separators.size() && c == separators[next] && !run.empty()) {
            runs.push_back(run);
            run.clear();
            ++next;
        } else {
            return false;
        }
    }
    if (run.empty() || next != separators.size())
        return false;
    runs.push_back(run);
    return true;
}

bool InRange(const std::string& digits, long low, long high) {
    if (digits.empty() || digits.size() > 6)
        return false;
    long value = std::stol(digits);
    return value >= low && value <= high;
}

} // namespace

std::string CheckRegistryPath(const std::string& path) {
    static const std::string form = "must be a registry path LABEL\\ROOT\\SUBKEY such as "
                                    "计算机\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product";
    size_t first = path.find('\\');
    if (first == std::string::npos)
        return form;
    size_t second = path.find('\\', first + 1);
    if (second == std::string::npos)
        return form;
    std::string label = path.substr(0, first);
    std::string root = path.substr(first + 1, second - first - 1);
    if (!IsRegistryRoot(root)) {
        if (IsRegistryRoot(label))
            return "the first part of a registry path is a label that is skipped; put one "
                   "before the root, as in 计算机\\" +
                   path;
        std::string names;
        for (const char* r : kRegistryRoots)
            names += names.empty() ? r : std::string(", ") + r;
        return "unknown registry root \"" + root + "\" (known: " + names + ")";
    }
    if (second + 1 >= path.size())
        return "the sub-key after " + root + " is empty";
    return {};
}

std::string CheckInstallerUrl(const std::string& url, const std::string& placeholder) {
    if (HasSpaceOrControl(url))
        return "must not contain spaces or control characters";
    if (!placeholder.empty() && url.rfind(placeholder, 0) == 0) {
        std::string rest = url.substr(placeholder.size());
        if (rest.empty() || rest[0] != '/')
            return "after " + placeholder + " must come a path starting with /";
        return {};
    }
    const bool https = url.rfind("https://", 0) == 0;
    if (!https && url.rfind("http://", 0) != 0)
        return "must start with http:// or https://";
    const std::string scheme = https ? "https://" : "http://";
    std::string rest = url.substr(scheme.size());
    size_t slash = rest.find('/');
    std::string host = rest.substr(0, slash);
    if (host.empty())
        return "the host after " + scheme + " is empty";
    size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        std::string port = host.substr(colon + 1);
        if (colon == 0 || port.find_first_not_of("0123456789") != std::string::npos ||
            !InRange(port, 1, 65535))
            return "the port after the host must be a number from 1 to 65535";
    }
    if (slash == std::string::npos)
        return "must have a path after the host, as in " + scheme + "host:port/files/setup.exe";
    return {};
}

std::string CheckFileVersion(const std::string& version) {
    std::vector<std::string> parts;
    if (!DecimalRuns(version, "...", std::string::npos, parts))
        return "must be four decimal numbers a.b.c.d";
    for (const std::string& part : parts) {
        if ((part.size() > 1 && part[0] == '0') || !InRange(part, 0, 65535))
            return "each number must be 0 to 65535 without leading zeros (\"" + part +
                   "\" can never equal a file's version)";
    }
    return {};
}

std::string CheckModifyTime(const std::string& dateTime) {
    std::vector<std::string> m;
    if (!DecimalRuns(dateTime, "-- :", 4, m) || m[0].size() != 4 || m[1].size() > 2 ||
        m[2].size() > 2 || m[3].size() > 2 || m[4].size() > 2)
        return "must be \"YYYY-MM-DD HH:MM\" (UTC+8)";
    int year = std::stoi(m[0]), month = std::stoi(m[1]), day = std::stoi(m[2]);
    int hour = std::stoi(m[3]), minute = std::stoi(m[4]);
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || year > 3000 || month < 1 || month > 12)
        return "is not a valid date and time";
    int days = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day < 1 || day > days || hour > 23 || minute > 59)
        return "is not a valid date and time";
    return {};
}

std::string CheckSha256Text(const std::string& digest) {
    if (digest.size() != 64 ||
        digest.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return "must be 64 hexadecimal digits";
    return {};
}

std::vector<Problem> UnprotectedInstallerUrls(Document& doc) {
    std::vector<Problem> warnings;
    for (const UrlSlot& slot : InstallerUrls(doc)) {
        const Document& url = (*slot.holder)["url"];
        if (!url.is_string() || url.get<std::string>().rfind("http://", 0) != 0 ||
            slot.holder->contains("sha256"))
            continue;
        warnings.push_back({slot.path + ".url",
                            "plain http:// without sha256: anyone on the network path can "
                            "change the installer that the tool runs as administrator; add "
                            "sha256 (--fill-sha256) or serve it over https://"});
    }
    return warnings;
}

std::vector<Problem> UnboundedInstallers(Document& doc) {
    std::vector<Problem> warnings;
    for (const UrlSlot& slot : InstallerUrls(doc))
        if (!slot.holder->contains("size") || (*slot.holder)["size"].is_null())
            warnings.push_back({slot.path, "no size: the tool then allows the download up to "
                                           "its general limit (2 GiB unless config.json says "
                                           "otherwise); --fill-sha256 fills it"});
    return warnings;
}

std::vector<Problem> InstallersWithoutSilentArgs(Document& doc) {
    std::vector<Problem> warnings;
    for (const UrlSlot& slot : InstallerUrls(doc)) {
        const bool release = slot.path.rfind(std::string(kReleaseMember) + ".", 0) == 0;
        if (!release &&
            (!slot.holder->contains("silentArgs") || (*slot.holder)["silentArgs"].is_null()))
            warnings.push_back({slot.path, "no silentArgs: quelda-envcheck --repair starts it "
                                           "without arguments and waits for its first dialog"});
    }
    return warnings;
}

std::vector<Problem> ValidateDocument(const Document& doc, const std::string& placeholder) {
    return Validator(placeholder).Run(doc);
}
