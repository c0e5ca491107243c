// Prints what GetFileVersionInfo reports for each file named on the command line, one line
// a file: "name<TAB>error<TAB>file version<TAB>product version<TAB>translation". Built over
// winshim and for Windows (run under Wine), so that both readers can be compared.
#include "probes/winapi.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Version(DWORD ms, DWORD ls) {
    return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
           std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
}

void Dump(const char* path, const char* shown) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        std::printf("%s\t%lu\t-\t-\t-\n", shown, static_cast<unsigned long>(GetLastError()));
        return;
    }
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data())) {
        std::printf("%s\t%lu\t-\t-\t-\n", shown, static_cast<unsigned long>(GetLastError()));
        return;
    }
    std::string fileVersion = "-", productVersion = "-";
    LPVOID fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", &fixed, &length) && fixed &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        fileVersion = Version(info->dwFileVersionMS, info->dwFileVersionLS);
        productVersion = Version(info->dwProductVersionMS, info->dwProductVersionLS);
    }
    char translation[16] = "-";
    LPVOID pair = nullptr;
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &pair, &length) && pair &&
        length >= 4) {
        const auto* words = static_cast<const WORD*>(pair);
        std::snprintf(translation, sizeof translation, "%04x%04x", words[0], words[1]);
    }
    std::printf("%s\t0\t%s\t%s\t%s\n", shown, fileVersion.c_str(), productVersion.c_str(),
                translation);
}

} // namespace

// version_dump [--prefix DIR] FILE...: with a prefix, FILE is opened as DIR\FILE and shown
// as FILE, so that both sides print the same names.
int main(int argc, char** argv) {
    std::string prefix;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--prefix") {
        prefix = argv[2];
        first = 3;
    }
    for (int i = first; i < argc; ++i) {
        const std::string path = prefix.empty() ? argv[i] : prefix + "\\" + argv[i];
        Dump(path.c_str(), argv[i]);
    }
    return 0;
}
