#include "engine/driver_entry.h"

#include "engine/install_paths.h"
#include "engine/region.h"

#include "probes/file_probes.h"
#include "probes/registry.h"
#include "probes/user_hive.h"

DriverEntry ReadDriverEntry(const nlohmann::json& entry) {
    DriverEntry e;
    e.path = TextMember(entry, "path");
    e.key = TextMember(entry, "key");
    e.fileName = TextMember(entry, "fileName");
    e.fileVersion = TextMember(entry, "fileVersion");
    e.fileModifyDtm = TextMember(entry, "fileModifyDtm");
    return e;
}

bool DriverNeedsInstall(const DriverEntry& entry, bool stripQuotes) {
    std::string rootName, subKey;
    if (SplitRegPath(entry.path, rootName, subKey) < 0)
        return true;
    std::string location;
    if (RegGetStrValueEitherView(RegRoot(rootName).key(), subKey, entry.key, location) < 0)
        return true;
    if (stripQuotes && location.find('"') != std::string::npos)
        location = location.size() < 2 ? std::string() : location.substr(1, location.size() - 2);
    __time64_t fileTime = 0;
    std::string version;
    if (GetFileVersionTime(InstallDirFromRegistryValue(location), entry.fileName, fileTime,
                           version) < 0)
        return true;
    return version != entry.fileVersion || ParseDateTime(entry.fileModifyDtm) != fileTime;
}
