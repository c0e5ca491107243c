#include "engine/driver_entry.h"

#include "engine/install_paths.h"
#include "engine/region.h"

#include "probes/user_hive.h"

#include <system_error>

namespace fs = std::filesystem;

DriverEntry ReadDriverEntry(const nlohmann::json& entry) {
    DriverEntry e;
    e.path = TextMember(entry, "path");
    e.key = TextMember(entry, "key");
    e.fileName = TextMember(entry, "fileName");
    e.fileVersion = TextMember(entry, "fileVersion");
    e.fileModifyDtm = TextMember(entry, "fileModifyDtm");
    return e;
}

namespace {

// The steps of ExamineDriverEntry after the members were read; may throw.
void Examine(DriverFindings& f, bool stripQuotes) {
    const DriverEntry& entry = f.entry;
    std::string rootName, subKey;
    f.splitCode = SplitRegPath(entry.path, rootName, subKey);
    if (f.splitCode < 0) {
        f.state = DriverState::NoRegistryPath;
        return;
    }
    f.readCode =
        RegGetStrValueEitherView(RegRoot(rootName).key(), subKey, entry.key, f.location, &f.view);
    if (f.readCode < 0) {
        f.location.clear();
        f.state = DriverState::NotInstalled;
        return;
    }
    f.locationRead = true;
    if (stripQuotes && f.location.find('"') != std::string::npos)
        f.location =
            f.location.size() < 2 ? std::string() : f.location.substr(1, f.location.size() - 2);
    f.dir = InstallDirFromRegistryValue(f.location);
    f.dirKnown = true;
    f.fileCode = GetFileVersionTime(f.dir, entry.fileName, f.fileTime, f.version, &f.minute);
    f.expectedTime = ParseDateTime(entry.fileModifyDtm);
    if (f.fileCode < 0) {
        f.state = DriverState::NoFile;
        return;
    }
    f.state = f.version != entry.fileVersion || f.expectedTime != f.fileTime ? DriverState::Differs
                                                                             : DriverState::Matches;
}

void Unreadable(DriverFindings& f, const std::exception& e) {
    f.state = DriverState::Unreadable;
    f.error = e.what();
    f.exception = std::current_exception();
}

} // namespace

DriverFindings ExamineDriverEntry(const DriverEntry& entry, bool stripQuotes) {
    DriverFindings f;
    f.entry = entry;
    f.entryRead = true;
    try {
        Examine(f, stripQuotes);
    } catch (const std::exception& e) {
        Unreadable(f, e);
    }
    return f;
}

DriverFindings ExamineDriverEntry(const nlohmann::json& item, bool stripQuotes) {
    DriverFindings f;
    try {
        f.entry = ReadDriverEntry(item);
        f.entryRead = true;
        Examine(f, stripQuotes);
    } catch (const std::exception& e) {
        Unreadable(f, e);
    }
    return f;
}

DriverListFindings ExamineDriverList(const nlohmann::json& region, bool stripQuotes) {
    DriverListFindings found;
    std::vector<const nlohmann::json*> entries;
    found.listRead = DriverEntries(region, entries);
    for (const nlohmann::json* item : entries)
        found.entries.push_back(ExamineDriverEntry(*item, stripQuotes));
    std::error_code ec;
    found.skfPresent = fs::exists(SkfDllPath(), ec);
    if (ec)
        found.skfError = ec.message();
    return found;
}

bool DriverNeedsInstall(const DriverEntry& entry, bool stripQuotes) {
    const DriverFindings found = ExamineDriverEntry(entry, stripQuotes);
    if (found.exception)
        std::rethrow_exception(found.exception);
    return found.state != DriverState::Matches;
}
