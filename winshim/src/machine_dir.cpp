// Where this stand-in keeps its "Windows machine", and how Windows paths map into it.
#include <winshim/windows.h>

#include "machine_case.h"

#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace winshim {

namespace {

std::string HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string WithSlashes(std::string path) {
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

} // namespace

std::string MachineDir() {
    // Read on every call: tests point each case at a fresh folder.
    if (const char* dir = std::getenv("QUELDA_MACHINE"); dir && *dir)
        return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/quelda/machine";
    return HomeDir() + "/.local/share/quelda/machine";
}

std::string MapWindowsPath(const std::string& path) {
    const bool hasDrive =
        path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    std::string machine = MachineDir();
    while (machine.size() > 1 && machine.back() == '/')
        machine.pop_back();
    if (!hasDrive) {
        // A path already mapped into the machine folder (a folder joined with a file name)
        // is resolved below the folder too.
        std::string native = WithSlashes(path);
        if (native.size() > machine.size() && native.compare(0, machine.size(), machine) == 0 &&
            native[machine.size()] == '/')
            return ResolveCase(machine, native.substr(machine.size()));
        return native;
    }
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    std::string rest = WithSlashes(path.substr(2));
    // "C:" and "C:\" both name the drive's root; "C:a" (relative to the drive's current
    // folder on Windows) is taken from the root too, as there is no current folder here.
    if (!rest.empty() && !IsSeparator(rest.front()))
        rest.insert(rest.begin(), '/');
    return ResolveCase(machine + "/drive_" + drive, rest);
}

} // namespace winshim
