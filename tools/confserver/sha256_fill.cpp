#include "sha256_fill.h"

#include "sha256.h"

#include "http_message.h"

#include "engine/region_table.h"
#include "engine/update/release_offer.h"

#include <filesystem>

bool ServedUrls::RelativeFile(const std::string& url, std::string& relative) const {
    std::string rest;
    if (!placeholder.empty() && url.rfind(placeholder, 0) == 0)
        rest = url.substr(placeholder.size());
    else if (!baseUrl.empty() && url.rfind(baseUrl + "/", 0) == 0)
        rest = url.substr(baseUrl.size());
    else
        return false;
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.rfind(filesPrefix, 0) != 0)
        return false;
    relative = DecodeUrl(rest.substr(filesPrefix.size()), false);
    return true;
}

std::vector<UrlSlot> InstallerUrls(Document& doc) {
    std::vector<UrlSlot> slots;
    if (!doc.is_object())
        return slots;
    auto add = [&](const std::string& path, Document& holder) {
        if (holder.is_object() && holder.contains("url") && holder["url"].is_string())
            slots.push_back({path, &holder});
    };
    for (const RegionEntry& entry : kRegions) {
        const char* region = entry.key;
        if (!doc.contains(region) || !doc[region].is_object())
            continue;
        Document& section = doc[region];
        for (const char* member : {"framework", "tool"})
            if (section.contains(member))
                add(std::string(region) + "." + member, section[member]);
        if (!section.contains("driver"))
            continue;
        Document& drivers = section["driver"];
        std::string base = std::string(region) + ".driver";
        if (drivers.is_array()) {
            for (size_t i = 0; i < drivers.size(); ++i)
                add(base + "[" + std::to_string(i) + "]", drivers[i]);
        } else if (drivers.is_object()) {
            for (auto& [name, entry] : drivers.items())
                add(base + "." + name, entry);
        }
    }
    // Then the tool's own release packages.
    if (doc.contains(kReleaseMember) && doc[kReleaseMember].is_object())
        for (const char* kind : {"msi", "zip"})
            if (doc[kReleaseMember].contains(kind))
                add(std::string(kReleaseMember) + "." + kind, doc[kReleaseMember][kind]);
    return slots;
}

FillReport FillSha256(Document& doc, const FileStore& store, const ServedUrls& served) {
    FillReport report;
    struct Filled {
        Document* holder;
        std::string sha256;
        std::uintmax_t size;
    };
    std::vector<Filled> digests;
    for (const UrlSlot& slot : InstallerUrls(doc)) {
        std::string relative;
        if (!served.RelativeFile((*slot.holder)["url"].get<std::string>(), relative))
            continue;
        FileStore::Lookup found = store.Resolve(relative);
        if (found.status == FileStore::Status::Forbidden) {
            report.problems.push_back({slot.path + ".url", "points outside the files folder"});
            continue;
        }
        if (found.status == FileStore::Status::NotFound) {
            report.problems.push_back(
                {slot.path + ".url", "no file " + (store.root() / relative).string()});
            continue;
        }
        std::string hex, error;
        if (!Sha256OfFile(found.file, hex, error)) {
            report.problems.push_back({slot.path + ".url", error});
            continue;
        }
        std::error_code failed;
        const std::uintmax_t size = std::filesystem::file_size(found.file, failed);
        if (failed) {
            report.problems.push_back({slot.path + ".url", failed.message()});
            continue;
        }
        digests.push_back({slot.holder, hex, size});
    }
    if (!report.problems.empty())
        return report;
    for (const Filled& one : digests) {
        (*one.holder)["sha256"] = one.sha256;
        (*one.holder)["size"] = one.size;
    }
    report.filled = static_cast<int>(digests.size());
    return report;
}
