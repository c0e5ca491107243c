#include "windows_edition.h"

#include "registry.h"
#include "windows_bits.h"

#include <cstdlib>

namespace {
const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// A text value of CurrentVersion in the 64-bit view; empty when it cannot be read.
std::string CurrentVersionText(const char* name) {
    std::string value;
    if (RegGetStrValue(HKEY_LOCAL_MACHINE, kCurrentVersion, name, value) < 0)
        return std::string();
    return value;
}
} // namespace

WindowsEdition ReadWindowsEdition() {
    WindowsEdition windows;
    const std::string build = CurrentVersionText("CurrentBuildNumber");
    if (!build.empty() && build.find_first_not_of("0123456789") == std::string::npos &&
        build.size() <= 9)
        windows.build = std::atoi(build.c_str());
    windows.edition = CurrentVersionText("EditionID");
    windows.installationType = CurrentVersionText("InstallationType");
    windows.productName = CurrentVersionText("ProductName");
    windows.bits = WindowsIs64Bit() ? 64 : 32;
    return windows;
}

bool IERetired(const WindowsEdition& windows) {
    if (windows.build >= 22000)
        return true;
    if (windows.build < 10240)
        return false;
    const bool longTermServicing = !windows.edition.empty() && windows.edition.back() == 'S';
    return windows.installationType == "Client" && !longTermServicing;
}
