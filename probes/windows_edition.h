#pragma once

#include <string>

// Which Windows this is, as CurrentVersion (64-bit view) and WOW64 tell it.
struct WindowsEdition {
    int build = 0;                // CurrentBuildNumber; 0 when it cannot be read
    std::string edition;          // EditionID ("Professional", "EnterpriseS", ...)
    std::string installationType; // InstallationType ("Client", "Server", ...)
    std::string productName;      // ProductName (Windows 11 still says "Windows 10")
    int bits = 32;                // 64 when this 32-bit process runs under WOW64
};

WindowsEdition ReadWindowsEdition();

// Whether Internet Explorer is retired here: Windows 11 (build 22000 and later), and the
// client editions of Windows 10 (builds 10240 to 21999) other than the long-term servicing
// ones, whose EditionID ends in "S". Windows 7 and 8.1, Windows 10 LTSC and Server keep it.
bool IERetired(const WindowsEdition& windows);
