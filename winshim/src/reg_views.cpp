#include "reg_views.h"

#include "reg_text.h"

#include <vector>

namespace winshim::reg {

namespace {

// Keys under HKLM\SOFTWARE that both views share on Windows 7 and later, as Microsoft
// documents them ("Registry Keys Affected by WOW64"). Classes is decided separately.
const char* const kSharedUnderSoftware[] = {
    "Microsoft\\COM3",
    "Microsoft\\Cryptography\\Calais\\Current",
    "Microsoft\\Cryptography\\Calais\\Readers",
    "Microsoft\\Cryptography\\Services",
    "Microsoft\\CTF\\SystemShared",
    "Microsoft\\CTF\\TIP",
    "Microsoft\\DFS",
    "Microsoft\\Driver Signing",
    "Microsoft\\EnterpriseCertificates",
    "Microsoft\\EventSystem",
    "Microsoft\\MSMQ",
    "Microsoft\\Non-Driver Signing",
    "Microsoft\\Notepad\\DefaultFonts",
    "Microsoft\\OLE",
    "Microsoft\\RAS",
    "Microsoft\\RPC",
    "Microsoft\\Shared Tools\\MSInfo",
    "Microsoft\\SystemCertificates",
    "Microsoft\\TermServLicensing",
    "Microsoft\\Transaction Server",
    "Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    "Microsoft\\Windows\\CurrentVersion\\Group Policy",
    "Microsoft\\Windows\\CurrentVersion\\Policies",
    "Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    "Microsoft\\Windows\\CurrentVersion\\Setup",
    "Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
    "Microsoft\\Windows NT\\CurrentVersion\\Console",
    "Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    "Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    "Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    "Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
    "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    "Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    "Microsoft\\Windows NT\\CurrentVersion\\Ports",
    "Microsoft\\Windows NT\\CurrentVersion\\Print",
    "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    "Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
    "Policies",
    "RegisteredApplications",
};

// The class registrations that stay apart per view; the rest of Classes is shared.
const char* const kRedirectedClasses[] = {"CLSID", "DIRECTSHOW", "INTERFACE", "MEDIA TYPE",
                                          "MEDIAFOUNDATION"};

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Join(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& p : parts)
        path += (path.empty() ? "" : "\\") + p;
    return path;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The number of leading components that form a class registration root: HKCR,
// HKLM\SOFTWARE\Classes, HKCU\Software\Classes, HKU\<sid>_Classes and
// HKU\<sid>\Software\Classes; 0 when the path is not below one.
size_t ClassesRootLength(const std::vector<std::string>& f) {
    const size_t n = f.size();
    if (f[0] == "HKEY_CLASSES_ROOT")
        return 1;
    if ((f[0] == "HKEY_LOCAL_MACHINE" || f[0] == "HKEY_CURRENT_USER") && n > 2 &&
        f[1] == "SOFTWARE" && f[2] == "CLASSES")
        return 3;
    if (f[0] == "HKEY_USERS" && n > 1 && EndsWith(f[1], "_CLASSES"))
        return 2;
    if (f[0] == "HKEY_USERS" && n > 3 && f[2] == "SOFTWARE" && f[3] == "CLASSES")
        return 4;
    return 0;
}

bool IsSharedUnderSoftware(const std::string& foldedRest) {
    for (const char* shared : kSharedUnderSoftware) {
        std::string s = FoldCase(shared);
        if (foldedRest == s || foldedRest.compare(0, s.size() + 1, s + "\\") == 0)
            return true;
    }
    return false;
}

} // namespace

std::string Wow64Path(const std::string& path) {
    std::vector<std::string> parts = Split(path);
    std::vector<std::string> folded = Split(FoldCase(path));
    if (size_t k = ClassesRootLength(folded)) {
        if (folded.size() > k)
            for (const char* redirected : kRedirectedClasses)
                if (folded[k] == redirected) {
                    parts.insert(parts.begin() + static_cast<long>(k), "Wow6432Node");
                    return Join(parts);
                }
        return path;
    }
    // HKLM\SOFTWARE itself is left as it is: it holds both trees.
    if (folded.size() < 3 || folded[0] != "HKEY_LOCAL_MACHINE" || folded[1] != "SOFTWARE" ||
        folded[2] == "WOW6432NODE")
        return path;
    const std::string foldedRest = FoldCase(path).substr(folded[0].size() + folded[1].size() + 2);
    if (IsSharedUnderSoftware(foldedRest))
        return path;
    parts.insert(parts.begin() + 2, "WOW6432Node");
    return Join(parts);
}

std::string ViewPath(const std::string& path, REGSAM samDesired, bool machineIs64Bit) {
    if (!machineIs64Bit || (samDesired & KEY_WOW64_64KEY))
        return path;
    return Wow64Path(path);
}

} // namespace winshim::reg
