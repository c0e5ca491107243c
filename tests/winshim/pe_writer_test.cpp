// The PE writer's own contract: version text parsing, the layout fields Windows' loader
// checks, and the quelda-mkpe command line.
#include "machine_ansi.h"
#include "pe_fixture.h"
#include "pewriter.h"
#include "temp_machine.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}

std::filesystem::path BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

} // namespace

TEST(PeWriter, ParsesOnlyFourPartVersions) {
    const struct {
        const char* text;
        bool ok;
        pewriter::FourPartVersion v;
    } cases[] = {
        {"1.2.3.4", true, {1, 2, 3, 4}},
        {"10.0.19041.1", true, {10, 0, 19041, 1}},
        {"65535.0.0.65535", true, {65535, 0, 0, 65535}},
        {"007.0.0.1", true, {7, 0, 0, 1}},
        {"65536.0.0.0", false, {}},
        {"1.2.3", false, {}},
        {"1.2.3.4.5", false, {}},
        {"1..3.4", false, {}},
        {"1.2.3.4 ", false, {}},
        {"-1.2.3.4", false, {}},
        {"a.b.c.d", false, {}},
        {"", false, {}},
        {"99999999999999999999.0.0.0", false, {}},
    };
    for (const auto& c : cases) {
        pewriter::FourPartVersion v{9, 9, 9, 9};
        EXPECT_EQ(pewriter::ParseVersion(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.v) << c.text;
        } else {
            EXPECT_EQ(v, (pewriter::FourPartVersion{9, 9, 9, 9}))
                << "changed on failure: " << c.text;
        }
    }
    EXPECT_EQ(pewriter::FormatVersion({10, 0, 19041, 1}), "10.0.19041.1");
}

TEST(PeWriter, LayoutFieldsAreConsistent) {
    for (bool x64 : {false, true}) {
        const std::vector<uint8_t> pe = PeImage("1.2.3.4", x64);
        const uint32_t nt = U32(pe, 0x3C);
        const size_t opt = nt + 24;
        EXPECT_EQ(U16(pe, nt + 4), x64 ? 0x8664 : 0x014C);
        EXPECT_EQ(U16(pe, nt + 20), x64 ? 240 : 224);
        EXPECT_EQ(U16(pe, opt), x64 ? 0x20B : 0x10B);
        const uint32_t sectionAlignment = U32(pe, opt + 32);
        const uint32_t fileAlignment = U32(pe, opt + 36);
        const uint32_t sizeOfImage = U32(pe, opt + 56);
        const uint32_t sizeOfHeaders = U32(pe, opt + 60);
        EXPECT_EQ(sizeOfImage % sectionAlignment, 0u);
        EXPECT_EQ(sizeOfHeaders % fileAlignment, 0u);
        EXPECT_EQ(pe.size() % fileAlignment, 0u);
        const size_t section = opt + U16(pe, nt + 20);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&pe[section])), ".rsrc");
        const uint32_t virtualSize = U32(pe, section + 8), rva = U32(pe, section + 12);
        const uint32_t rawSize = U32(pe, section + 16), rawPointer = U32(pe, section + 20);
        EXPECT_EQ(rva % sectionAlignment, 0u);
        EXPECT_EQ(rawPointer % fileAlignment, 0u);
        EXPECT_EQ(rawSize % fileAlignment, 0u);
        EXPECT_GE(rawSize, virtualSize);
        EXPECT_EQ(rawPointer + rawSize, pe.size());
        EXPECT_GE(sizeOfImage, rva + virtualSize);
        const size_t directory = opt + (x64 ? 112 : 96) + 16;
        EXPECT_EQ(U32(pe, directory), rva);
        EXPECT_EQ(U32(pe, directory + 4), virtualSize);
    }
    // The same input always gives the same bytes (no time stamp), so outputs can be compared.
    EXPECT_EQ(PeImage("1.2.3.4"), PeImage("1.2.3.4"));
    EXPECT_NE(PeImage("1.2.3.4"), PeImage("1.2.3.5"));
}

TEST(PeWriter, VersionBlockLengthsAddUp) {
    pewriter::VersionResource r = pewriter::MakeVersionResource({1, 2, 3, 4});
    r.strings.emplace_back("CompanyName", "测试公司");
    const std::vector<uint8_t> block = pewriter::BuildVersionInfo(r);
    EXPECT_EQ(U16(block, 0), block.size());
    EXPECT_EQ(U16(block, 2), sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(U16(block, 4), 0); // binary
    EXPECT_EQ(U32(block, 40), static_cast<uint32_t>(VS_FFI_SIGNATURE));
    // Children follow the fixed info on a 32-bit boundary and fill the block exactly.
    size_t at = 40 + sizeof(VS_FIXEDFILEINFO);
    int children = 0;
    while (at < block.size()) {
        const uint16_t length = U16(block, at);
        ASSERT_GE(length, 6);
        at += length;
        at = (at + 3) & ~size_t{3};
        ++children;
    }
    EXPECT_EQ(at, (block.size() + 3) & ~size_t{3});
    EXPECT_EQ(children, 2); // StringFileInfo, VarFileInfo
}

TEST(PeWriter, CommandLineWritesReadableFiles) {
    const std::filesystem::path tool = BinDir() / "quelda-mkpe";
    if (!std::filesystem::exists(tool))
        GTEST_SKIP() << "quelda-mkpe is not built";
    TempMachine machine;
    const auto out = machine.Native("C:\\Windows\\SysWOW64\\SKFAPI20050.dll");
    const std::string cmd = "'" + tool.string() + "' '" + out.string() + "' 2.0.1.18";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const DWORD size = GetFileVersionInfoSizeA("C:\\Windows\\SysWOW64\\SKFAPI20050.dll", nullptr);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> buffer(size);
    ASSERT_TRUE(
        GetFileVersionInfoA("C:\\Windows\\SysWOW64\\SKFAPI20050.dll", 0, size, buffer.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &len));
    EXPECT_EQ(info->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(info->dwFileVersionLS, 0x00010012u);

    const auto none = machine.Native("C:\\none.dll");
    ASSERT_EQ(std::system(("'" + tool.string() + "' '" + none.string() + "' none").c_str()), 0);
    EXPECT_EQ(GetFileVersionInfoSizeA("C:\\none.dll", nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));

    for (const char* bad : {" 1.2.3", " 1.2.3.4 --bogus", "", " 1.2.3.4 --product x"}) {
        const std::string badCmd = "'" + tool.string() + "' '" +
                                   (machine.dir() / "bad.dll").string() + "'" + bad +
                                   " 2>/dev/null";
        EXPECT_NE(std::system(badCmd.c_str()), 0) << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(machine.dir() / "bad.dll"));
}
