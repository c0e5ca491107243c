// quelda-mkpe: writes a PE file carrying a version resource, for demo and test installers
// that need a "DLL" or "EXE" of a given version on the machine.
#include "pewriter.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: quelda-mkpe OUT VERSION [options]\n"
                 "  VERSION               a.b.c.d (file version), or \"none\" for no version "
                 "resource\n"
                 "  --product a.b.c.d     product version (default: the file version)\n"
                 "  --string KEY=VALUE    add a StringFileInfo entry (repeatable)\n"
                 "  --x64                 write a PE32+ (x64) image instead of PE32 (i386)\n"
                 "  --exe                 mark the image as an EXE rather than a DLL\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    const std::string out = argv[1];
    const std::string versionText = argv[2];

    pewriter::ImageSpec imageSpec;
    if (versionText != "none") {
        pewriter::FourPartVersion v;
        if (!pewriter::ParseVersion(versionText, v)) {
            std::fprintf(stderr, "quelda-mkpe: not a version a.b.c.d: %s\n", versionText.c_str());
            return 2;
        }
        imageSpec.version = pewriter::MakeVersionResource(v);
    }
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--x64") {
            imageSpec.machine = pewriter::Machine::Amd64;
        } else if (arg == "--exe") {
            imageSpec.dll = false;
        } else if (arg == "--product" && i + 1 < argc && imageSpec.version) {
            if (!pewriter::ParseVersion(argv[++i], imageSpec.version->productVersion)) {
                std::fprintf(stderr, "quelda-mkpe: not a version a.b.c.d: %s\n", argv[i]);
                return 2;
            }
            for (auto& entry : imageSpec.version->strings)
                if (entry.first == "ProductVersion")
                    entry.second = argv[i];
        } else if (arg == "--string" && i + 1 < argc && imageSpec.version) {
            const std::string kv = argv[++i];
            const auto eq = kv.find('=');
            if (eq == std::string::npos || eq == 0)
                return Usage();
            imageSpec.version->strings.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
        } else {
            return Usage();
        }
    }

    std::string error;
    if (!pewriter::WriteImage(out, imageSpec, error)) {
        std::fprintf(stderr, "quelda-mkpe: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
