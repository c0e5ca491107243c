#include "engine/report/check_record.h"

#include "engine/install_paths.h"
#include "engine/region.h"
#include "engine/user_settings.h"

#include "probes/file_probes.h"
#include "probes/ie_settings.h"
#include "probes/registry.h"
#include "probes/textconv.h"
#include "probes/user_hive.h"

#include <cstdio>
#include <exception>

namespace fs = std::filesystem;

namespace {

CheckFact Fact(const std::string& name, int entry, const std::string& where) {
    CheckFact fact;
    fact.name = name;
    fact.entry = entry;
    fact.where = where;
    return fact;
}

// A document member that could not be read as text: what the check fails on with -3.
CheckFact MemberFact(int entry, const std::string& where, const std::string& error) {
    CheckFact fact = Fact("documentMember", entry, where);
    fact.expected = "text";
    fact.note = error;
    return fact;
}

// A registry string value named by a document path and value name, as a read of it went:
// `splitCode` of the path, then the read's code, view and value (local code page).
CheckFact RegistryValueFact(int entry, const std::string& path, const std::string& key,
                            int splitCode, bool read, RegView from, const std::string& localValue) {
    CheckFact fact = Fact("registryValue", entry, path + "\\" + key);
    if (splitCode < 0) {
        fact.note = "不是注册表路径";
        return fact;
    }
    if (read)
        fact.found = GbkToUtf8(localValue);
    if (read && from == RegView::Bits32)
        fact.note = "在 32 位注册表视图（WOW6432Node）中找到";
    else if (!read && from != RegView::Single)
        fact.note = "64 位和 32 位注册表视图中均未找到";
    fact.ok = read;
    return fact;
}

// The registry value the document names, read now.
CheckFact RegistryValueFact(int entry, const std::string& path, const std::string& key,
                            std::string& localValue, bool& read) {
    std::string rootName, subKey;
    const int split = SplitRegPath(path, rootName, subKey);
    RegView from = RegView::Single;
    read = split >= 0 &&
           RegGetStrValueEitherView(RegRoot(rootName).key(), subKey, key, localValue, &from) >= 0;
    return RegistryValueFact(entry, path, key, split, read, from, localValue);
}

CheckFact FolderFact(int entry, const fs::path& dir) {
    CheckFact fact = Fact("installFolder", entry, std::string());
    fact.found = LogPathText(dir);
    fact.ok = true;
    return fact;
}

std::string FileText(const fs::path& dir, const std::string& fileName) {
    return LogPathText(dir / fs::u8path(fileName));
}

CheckFact ErrorFact(const char* what) {
    CheckFact fact = Fact("error", -1, std::string());
    fact.note = what;
    return fact;
}

void DriverFacts(const DriverFindings& found, int index, const std::string& region,
                 std::vector<CheckFact>& facts) {
    const std::string where = region + ".driver[" + std::to_string(index) + "]";
    if (!found.entryRead) {
        facts.push_back(MemberFact(index, where, found.error));
        return;
    }
    const DriverEntry& entry = found.entry;
    facts.push_back(RegistryValueFact(index, entry.path, entry.key, found.splitCode,
                                      found.locationRead, found.view, found.location));
    if (!found.locationRead)
        return;
    const fs::path& dir = found.dir;
    if (found.dirKnown)
        facts.push_back(FolderFact(index, dir));
    if (found.state == DriverState::Unreadable) {
        CheckFact fact = ErrorFact(found.error.c_str());
        fact.entry = index;
        facts.push_back(fact);
        return;
    }

    const FileMinute& minute = found.minute;
    CheckFact versionFact = Fact("version", index, FileText(dir, entry.fileName));
    versionFact.expected = entry.fileVersion;
    CheckFact timeFact = Fact("fileTime", index, versionFact.where);
    timeFact.expected = entry.fileModifyDtm;
    if (found.fileCode == -1) {
        versionFact.note = "文件不存在";
        timeFact.note = versionFact.note;
    } else {
        if (found.fileCode == -2)
            versionFact.note = "文件没有版本信息";
        else
            versionFact.found = found.version;
        timeFact.found =
            ChinaMinuteText(minute.year, minute.month, minute.day, minute.hour, minute.minute);
        timeFact.ok = found.expectedTime == found.fileTime;
    }
    versionFact.ok = found.fileCode >= 0 && found.version == entry.fileVersion;
    facts.push_back(versionFact);
    facts.push_back(timeFact);
}

} // namespace

std::vector<CheckFact> DotNetFacts(const nlohmann::json& doc, const std::string& region) {
    std::vector<CheckFact> facts;
    try {
        std::string path;
        try {
            path = TextMember(Member(Member(doc, region), "framework"), "path");
        } catch (const std::exception& e) {
            facts.push_back(MemberFact(-1, region + ".framework.path", e.what()));
            return facts;
        }
        CheckFact fact = Fact("registryKey", -1, path);
        fact.expected = "present";
        std::string rootName, subKey;
        if (SplitRegPath(path, rootName, subKey) < 0) {
            fact.note = "不是注册表路径";
        } else {
            RegView from = RegView::Single;
            fact.ok =
                RegKeyExistsEitherView(RegRoot(rootName).key(), Utf8ToGbk(subKey), &from) >= 0;
            fact.found = fact.ok ? "present" : "absent";
            if (fact.ok && from == RegView::Bits64)
                fact.note = "在 64 位注册表视图中找到";
            else if (!fact.ok && from != RegView::Single)
                fact.note = "32 位和 64 位注册表视图中均未找到";
        }
        facts.push_back(fact);
    } catch (const std::exception& e) {
        facts.push_back(ErrorFact(e.what()));
    }
    return facts;
}

std::vector<CheckFact> IEFacts() {
    std::vector<CheckFact> facts;
    try {
        facts.push_back(AccountFact(OpenUserHive(true)));
        for (const IESettingState& state : ReadIESettingStates()) {
            CheckFact fact = Fact(state.name, -1, state.where);
            fact.expected = state.expected;
            if (state.present || state.name == "ZoneMap")
                fact.found = state.found;
            fact.ok = state.ok;
            facts.push_back(fact);
        }
    } catch (const std::exception& e) {
        facts.push_back(ErrorFact(e.what()));
    }
    return facts;
}

std::vector<CheckFact> ToolFacts(const nlohmann::json& doc, const std::string& region) {
    std::vector<CheckFact> facts;
    try {
        std::string path, key, fileName, fileVersion;
        try {
            const nlohmann::json tool = Member(Member(doc, region), "tool");
            path = TextMember(tool, "path");
            key = TextMember(tool, "key");
            fileName = TextMember(tool, "fileName");
            fileVersion = TextMember(tool, "fileVersion");
        } catch (const std::exception& e) {
            facts.push_back(MemberFact(-1, region + ".tool", e.what()));
            return facts;
        }
        std::string location;
        bool read = false;
        facts.push_back(RegistryValueFact(-1, path, key, location, read));
        if (!read)
            return facts;
        const fs::path dir = InstallDirFromRegistryValue(location);
        facts.push_back(FolderFact(-1, dir));
        CheckFact fact = Fact("version", -1, FileText(dir, fileName));
        fact.expected = fileVersion;
        std::string installed;
        const int rc = GetAppConfigVersion(dir, fileName, installed);
        if (rc == -1)
            fact.note = "文件不存在或不是 XML";
        else if (rc < 0)
            fact.note = "文件中没有 Version 项";
        else
            fact.found = installed;
        fact.ok = rc >= 0 && installed == fileVersion;
        facts.push_back(fact);
    } catch (const std::exception& e) {
        facts.push_back(ErrorFact(e.what()));
    }
    return facts;
}

std::vector<CheckFact> CaFacts(const DriverListFindings& found, const std::string& region) {
    std::vector<CheckFact> facts;
    try {
        if (!found.listRead)
            facts.push_back(ErrorFact("driver list unreadable"));
        int index = 0;
        for (const DriverFindings& entry : found.entries) {
            try {
                DriverFacts(entry, index, region, facts);
            } catch (const std::exception& e) {
                CheckFact fact = ErrorFact(e.what());
                fact.entry = index;
                facts.push_back(fact);
            }
            ++index;
        }
        CheckFact skf = Fact("skfDll", -1, LogPathText(SkfDllPath()));
        skf.expected = "absent";
        if (!found.skfError.empty())
            skf.note = found.skfError;
        else
            skf.found = found.skfPresent ? "present" : "absent";
        skf.ok = found.skfError.empty() && !found.skfPresent;
        facts.push_back(skf);
    } catch (const std::exception& e) {
        facts.push_back(ErrorFact(e.what()));
    }
    return facts;
}

CheckFact RegistryStoreFact(long error) {
    CheckFact fact = Fact("registryStore", -1, "HKEY_LOCAL_MACHINE\\SOFTWARE");
    fact.expected = "readable";
    fact.note = "Windows 错误 " + std::to_string(error);
    return fact;
}

CheckFact ServerFact(const std::string& ipPort, const ServerAddress* parsed) {
    CheckFact fact = Fact("server", -1, ipPort);
    if (parsed) {
        fact.found = parsed->host + ":" + std::to_string(parsed->port);
        fact.ok = true;
    } else {
        fact.note = "不是 HTTP 或 HTTPS 服务器地址";
    }
    return fact;
}

CheckFact ResponseFact(const ServerAddress& address, const std::string& url, int status,
                       const std::string& error) {
    CheckFact fact = Fact("response", -1, ServerUrlText(address, url));
    fact.expected = "HTTP 200";
    if (error.empty())
        fact.found = "HTTP " + std::to_string(status);
    else
        fact.note = error;
    fact.ok = error.empty() && status == 200;
    return fact;
}

CheckFact DocumentFact(std::size_t bytes, const std::string& parseError) {
    CheckFact fact = Fact("document", -1, std::string());
    fact.expected = "JSON";
    fact.found = std::to_string(bytes);
    fact.ok = parseError.empty();
    fact.note = parseError;
    return fact;
}

CheckFact RegionFact(const nlohmann::json& doc, const std::string& region) {
    CheckFact fact = Fact("region", -1, region);
    fact.expected = "object";
    const nlohmann::json& section = Member(doc, region);
    if (!section.is_null())
        fact.found = section.type_name();
    fact.ok = section.is_object();
    return fact;
}

std::string ChinaMinuteText(int year, int month, int day, int hour, int minute) {
    // Days since 1970-01-01 of a civil date (proleptic Gregorian), then back after +8 h.
    auto daysFromCivil = [](long long y, unsigned m, unsigned d) {
        y -= m <= 2;
        const long long era = (y >= 0 ? y : y - 399) / 400;
        const unsigned yoe = static_cast<unsigned>(y - era * 400);
        const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
        const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + static_cast<long long>(doe) - 719468;
    };
    long long minutes = daysFromCivil(year, month, day) * 1440 + hour * 60 + minute + 8 * 60;
    long long days = minutes >= 0 ? minutes / 1440 : (minutes - 1439) / 1440;
    const int minuteOfDay = static_cast<int>(minutes - days * 1440);
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02d:%02d", y, m, d, minuteOfDay / 60,
                  minuteOfDay % 60);
    return text;
}
