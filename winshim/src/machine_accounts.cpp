#include "machine_accounts.h"

#include "reg_text.h"

#include <cstdint>
#include <fstream>

namespace winshim {

using reg::EqualNoCase;

namespace {

std::string Trim(const std::string& s) {
    const size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return std::string();
    return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

// "SID DOMAIN\name"; false when the SID is not one or no account follows it.
bool ParseAccount(const std::string& value, MachineAccount& account) {
    const size_t space = value.find(' ');
    if (space == std::string::npos)
        return false;
    MachineAccount parsed{value.substr(0, space), Trim(value.substr(space + 1))};
    if (SidFromString(parsed.sid).empty() || parsed.account.empty())
        return false;
    account = parsed;
    return true;
}

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t& number) {
    if (text.empty() || text.size() > 15 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = std::stoull(text);
    return number <= limit;
}

} // namespace

MachineAccounts ReadMachineAccounts() {
    MachineAccounts accounts;
    std::ifstream in(MachineDir() + "/accounts.ini");
    if (!in)
        return accounts;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? line : Trim(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
        if (key == "program" && ParseAccount(value, accounts.program)) {
            accounts.programNamed = true;
        } else if (key == "desktop" && value.empty()) {
            accounts.hasDesktop = false;
        } else if (!(key == "desktop" && ParseAccount(value, accounts.desktop))) {
            accounts.valid = false;
        }
    }
    // The program's user owns the desktop unless the file says who else does.
    if (accounts.programNamed && accounts.desktop.sid == kDefaultSid &&
        accounts.desktop.account == kDefaultAccount)
        accounts.desktop = accounts.program;
    return accounts;
}

std::string CurrentUserKeyPath() {
    const MachineAccounts accounts = ReadMachineAccounts();
    if (!accounts.valid || !accounts.programNamed)
        return "HKEY_CURRENT_USER";
    return "HKEY_USERS\\" + accounts.program.sid;
}

bool IsLoadedHive(const std::string& path) {
    const std::string users = "HKEY_USERS\\";
    if (path.size() <= users.size() || !EqualNoCase(path.substr(0, users.size()), users))
        return false;
    const MachineAccounts accounts = ReadMachineAccounts();
    if (!accounts.valid || !accounts.programNamed)
        return false;
    const std::string hive = path.substr(users.size());
    return EqualNoCase(hive, accounts.program.sid) ||
           (accounts.hasDesktop && EqualNoCase(hive, accounts.desktop.sid));
}

std::vector<BYTE> SidFromString(const std::string& text) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t dash = text.find('-', start);
        parts.push_back(text.substr(start, dash - start));
        if (dash == std::string::npos)
            break;
        start = dash + 1;
    }
    uint64_t revision = 0, authority = 0;
    if (parts.size() < 4 || parts.size() > 18 || (parts[0] != "S" && parts[0] != "s") ||
        !ParseNumber(parts[1], 1, revision) || revision != 1 ||
        !ParseNumber(parts[2], 0xFFFFFFFFFFFFull, authority))
        return {};
    std::vector<BYTE> sid = {1, static_cast<BYTE>(parts.size() - 3)};
    for (int shift = 40; shift >= 0; shift -= 8)
        sid.push_back(static_cast<BYTE>(authority >> shift));
    for (size_t i = 3; i < parts.size(); ++i) {
        uint64_t sub = 0;
        if (!ParseNumber(parts[i], 0xFFFFFFFFull, sub))
            return {};
        for (int shift = 0; shift < 32; shift += 8) // little-endian DWORDs
            sid.push_back(static_cast<BYTE>(sub >> shift));
    }
    return sid;
}

std::size_t SidLength(const BYTE* sid) {
    if (!sid || sid[0] != 1 || sid[1] == 0 || sid[1] > 15)
        return 0;
    return 8 + 4 * static_cast<std::size_t>(sid[1]);
}

std::string SidToString(const BYTE* sid, std::size_t size) {
    const std::size_t length = SidLength(sid);
    if (length == 0 || length > size)
        return std::string();
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | sid[i];
    std::string text = "S-1-" + std::to_string(authority);
    for (std::size_t i = 8; i < length; i += 4)
        text += "-" + std::to_string(static_cast<uint32_t>(sid[i]) | sid[i + 1] << 8 |
                                     sid[i + 2] << 16 | static_cast<uint32_t>(sid[i + 3]) << 24);
    return text;
}

} // namespace winshim
