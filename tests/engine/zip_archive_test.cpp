// The portable release's zip: what is unpacked, and what is refused before it can land
// outside its folder or as damaged bytes.
#include "engine/update/zip_archive.h"

#include "file_bytes.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// An archive made by Python's zipfile: `entries` is Python code of (name, bytes, method).
fs::path MakeZip(const fs::path& dir, const std::string& name, const std::string& entries) {
    const fs::path zip = dir / name;
    const fs::path script = dir / (name + ".py");
    std::ofstream(script) << "import sys, zipfile\n"
                          << "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                          << "    for n, b, m in [" << entries << "]:\n"
                          << "        z.writestr(zipfile.ZipInfo(n), b, compress_type=m)\n";
    const std::string command = "python3 '" + script.string() + "' '" + zip.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return zip;
}

class ZipArchive : public ::testing::Test {
  protected:
    fs::path Fresh(const std::string& name) {
        const fs::path folder = machine.dir() / name;
        fs::create_directories(folder);
        return folder;
    }
    TempMachine machine;
};

TEST_F(ZipArchive, StoredAndDeflatedEntriesAreUnpackedWhole) {
    const fs::path zip =
        MakeZip(machine.dir(), "release.zip",
                "('quelda-envcheck.exe', b'MZ' + bytes(range(256)) * 400, zipfile.ZIP_DEFLATED),"
                "('image/', b'', zipfile.ZIP_STORED),"
                "('image/logo.png', b'png', zipfile.ZIP_STORED),"
                "('config.json', b'{}', zipfile.ZIP_DEFLATED)");
    const fs::path out = Fresh("out");
    std::vector<fs::path> files;
    std::string why;
    ASSERT_TRUE(ExtractZip(zip, out, files, why)) << why;
    EXPECT_EQ(files.size(), 3u);
    std::string exe = "MZ";
    for (int i = 0; i < 400; ++i)
        for (int b = 0; b < 256; ++b)
            exe += static_cast<char>(b);
    EXPECT_TRUE(ReadFile(out / "quelda-envcheck.exe") == exe);
    EXPECT_EQ(ReadFile(out / "image" / "logo.png"), "png");
    EXPECT_EQ(ReadFile(out / "config.json"), "{}");
}

TEST_F(ZipArchive, WhatCouldLandOutsideOrArriveDamagedIsRefused) {
    struct Case {
        const char* name;
        std::string entries;
        const char* why;
    };
    const Case cases[] = {
        {"up.zip", "('../evil.dll', b'x', zipfile.ZIP_STORED)", "leaves the folder"},
        {"deep.zip", "('a/../../evil.dll', b'x', zipfile.ZIP_STORED)", "leaves the folder"},
        {"root.zip", "('/etc/evil', b'x', zipfile.ZIP_STORED)", "leaves the folder"},
        {"drive.zip", "('C:/Windows/evil.dll', b'x', zipfile.ZIP_STORED)", "leaves the folder"},
        {"back.zip", "('a\\\\..\\\\..\\\\evil.dll', b'x', zipfile.ZIP_STORED)",
         "leaves the folder"},
        {"bzip.zip", "('a.txt', b'x' * 100, zipfile.ZIP_BZIP2)", "compression method 12"},
    };
    for (const Case& c : cases) {
        const fs::path out = Fresh(std::string("out-") + c.name);
        std::vector<fs::path> files;
        std::string why;
        EXPECT_FALSE(ExtractZip(MakeZip(machine.dir(), c.name, c.entries), out, files, why))
            << c.name;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.name << ": " << why;
        EXPECT_FALSE(fs::exists(machine.dir() / "evil.dll")) << c.name;
    }

    // A byte changed inside a stored entry: its CRC-32 tells.
    const fs::path zip =
        MakeZip(machine.dir(), "flip.zip", "('a.txt', b'hello world', zipfile.ZIP_STORED)");
    std::string bytes = ReadFile(zip);
    bytes[bytes.find("hello")] = 'j';
    std::ofstream(zip, std::ios::binary | std::ios::trunc) << bytes;
    std::vector<fs::path> files;
    std::string why;
    EXPECT_FALSE(ExtractZip(zip, Fresh("out-flip"), files, why));
    EXPECT_NE(why.find("CRC-32 mismatch"), std::string::npos) << why;

    // Not a zip at all, and cut short.
    std::ofstream(machine.dir() / "text.zip") << "just text";
    EXPECT_FALSE(ExtractZip(machine.dir() / "text.zip", Fresh("out-text"), files, why));
    std::ofstream(machine.dir() / "cut.zip", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    EXPECT_FALSE(ExtractZip(machine.dir() / "cut.zip", Fresh("out-cut"), files, why));
}

} // namespace
