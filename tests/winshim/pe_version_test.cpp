// Version resources read from PE files: GetFileVersionInfoSizeA, GetFileVersionInfoA and
// VerQueryValueW over files made by the PE writer, and the reader's refusal of anything
// broken, short or hostile.
#include "machine_ansi.h"
#include "pe_fixture.h"
#include "pe_version_resource.h"
#include "temp_machine.h"
#include "version_buffer.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

struct VersionResult {
    DWORD size = 0;
    DWORD error = 0;
    bool fixedInfo = false;
    std::string version;
};

// What the file probe does: size, info, root block, four words of the file version.
VersionResult ReadFileVersion(const std::string& gbkPath) {
    VersionResult r;
    DWORD handle = 123;
    SetLastError(0);
    r.size = GetFileVersionInfoSizeA(gbkPath.c_str(), &handle);
    r.error = GetLastError();
    EXPECT_EQ(handle, 0u);
    if (r.size == 0)
        return r;
    std::vector<uint8_t> buffer(r.size);
    if (!GetFileVersionInfoA(gbkPath.c_str(), 0, r.size, buffer.data()))
        return r;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &len))
        return r;
    r.fixedInfo = true;
    EXPECT_EQ(len, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(info->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
    r.version = std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
                std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
                std::to_string(LOWORD(info->dwFileVersionLS));
    return r;
}

std::string StringValue(const std::vector<uint8_t>& buffer, const wchar_t* subBlock) {
    wchar_t* text = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(buffer.data(), subBlock, reinterpret_cast<LPVOID*>(&text), &len))
        return "<none>";
    EXPECT_GT(len, 0u);
    EXPECT_EQ(text[len - 1], L'\0');
    return std::string(text, text + len - 1); // ASCII in these fixtures
}

std::vector<uint8_t> InfoBuffer(const std::string& gbkPath) {
    const DWORD size = GetFileVersionInfoSizeA(gbkPath.c_str(), nullptr);
    std::vector<uint8_t> buffer(size);
    EXPECT_TRUE(size > 0 && GetFileVersionInfoA(gbkPath.c_str(), 0, size, buffer.data()));
    return buffer;
}

unsigned long ReadMemory(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& block) {
    winshim::MemorySource src(bytes.data(), bytes.size());
    return winshim::ReadVersionResource(src, block);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets in the writer's layout, found from the headers rather than assumed.
uint32_t PeOffset(const std::vector<uint8_t>& pe) {
    uint32_t v;
    std::memcpy(&v, pe.data() + 0x3C, 4);
    return v;
}
constexpr size_t kResourceSectionFileOffset = 0x200;

} // namespace

TEST(PeVersion, ReadsFileVersionOfWrittenImages) {
    TempMachine machine;
    const struct {
        const char* windowsPath;
        const char* version;
        bool x64;
    } cases[] = {
        {"C:\\Windows\\SysWOW64\\a.dll", "1.2.3.4", false},
        {"C:\\Windows\\SysWOW64\\b.dll", "10.0.19041.1", false},
        {"D:\\x64\\c.dll", "10.0.19041.1", true},
        {"C:\\zero.dll", "0.0.0.0", false},
        {"C:\\max.dll", "65535.65535.65535.65535", true},
    };
    for (const auto& c : cases) {
        WritePe(machine.Native(c.windowsPath), c.version, c.x64);
        const VersionResult r = ReadFileVersion(c.windowsPath);
        EXPECT_GT(r.size, 0u) << c.windowsPath;
        EXPECT_TRUE(r.fixedInfo) << c.windowsPath;
        EXPECT_EQ(r.version, c.version) << c.windowsPath;
    }
}

TEST(PeVersion, ChinesePathInGbkAndDoubledSlash) {
    TempMachine machine;
    const std::string utf8 = "C:\\Program Files\\驱动\\证书.dll";
    WritePe(machine.Native(utf8), "3.1.0.7");
    EXPECT_EQ(ReadFileVersion(winshim::Utf8ToAnsiText(utf8)).version, "3.1.0.7");
    // The probes join folder and file with "//".
    EXPECT_EQ(ReadFileVersion(winshim::Utf8ToAnsiText("C:\\Program Files\\驱动//证书.dll")).version,
              "3.1.0.7");
}

TEST(PeVersion, StringAndTranslationBlocks) {
    TempMachine machine;
    WritePe(machine.Native("C:\\s.dll"), "4.5.6.7");
    const std::vector<uint8_t> buffer = InfoBuffer("C:\\s.dll");

    DWORD* translation = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<LPVOID*>(&translation), &len));
    ASSERT_EQ(len, 4u);
    EXPECT_EQ(LOWORD(*translation), 0x0409);
    EXPECT_EQ(HIWORD(*translation), 1200);

    EXPECT_EQ(StringValue(buffer, L"\\StringFileInfo\\040904B0\\FileVersion"), "4.5.6.7");
    // Keys compare case-insensitively, as on Windows.
    EXPECT_EQ(StringValue(buffer, L"\\stringfileinfo\\040904b0\\productversion"), "4.5.6.7");
    EXPECT_EQ(StringValue(buffer, L"\\StringFileInfo\\040904B0\\CompanyName"), "<none>");
    EXPECT_EQ(StringValue(buffer, L"\\NoSuchBlock"), "<none>");
}

TEST(PeVersion, BufferStartsWithTheVersionBlock) {
    TempMachine machine;
    WritePe(machine.Native("C:\\v.dll"), "1.2.3.4");
    const std::vector<uint8_t> buffer = InfoBuffer("C:\\v.dll");
    ASSERT_GE(buffer.size(), 40 + sizeof(VS_FIXEDFILEINFO));
    const std::u16string key = u"VS_VERSION_INFO";
    EXPECT_EQ(std::memcmp(buffer.data() + 6, key.data(), key.size() * 2), 0);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &len));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(info), buffer.data() + 40);
}

TEST(PeVersion, FilesWithoutVersionFailWithWindowsErrors) {
    TempMachine machine;
    WriteBytes(machine.Native("C:\\text.txt"), {'h', 'e', 'l', 'l', 'o', '\n'});
    WriteBytes(machine.Native("C:\\empty.dll"), {});
    WriteBytes(machine.Native("C:\\nores.dll"), PeImageWithoutResources());
    WriteBytes(machine.Native("C:\\nores64.dll"), PeImageWithoutResources(true));
    std::filesystem::create_directories(machine.Native("C:\\folder.dll"));
    ASSERT_EQ(mkfifo(machine.Native("C:\\pipe.dll").c_str(), 0600), 0); // must not block
    const struct {
        const char* path;
        DWORD error;
    } cases[] = {
        {"C:\\missing.dll", ERROR_FILE_NOT_FOUND},
        {"C:\\no\\such\\folder\\x.dll", ERROR_PATH_NOT_FOUND},
        {"C:\\text.txt", ERROR_BAD_FORMAT},
        {"C:\\empty.dll", ERROR_BAD_FORMAT},
        {"C:\\nores.dll", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"C:\\nores64.dll", ERROR_RESOURCE_DATA_NOT_FOUND},
        {"C:\\folder.dll", ERROR_ACCESS_DENIED},
        {"C:\\pipe.dll", ERROR_BAD_FORMAT},
    };
    for (const auto& c : cases) {
        const VersionResult r = ReadFileVersion(c.path);
        EXPECT_EQ(r.size, 0u) << c.path;
        EXPECT_EQ(r.error, c.error) << c.path;
        std::vector<uint8_t> buffer(256);
        EXPECT_FALSE(GetFileVersionInfoA(c.path, 0, 256, buffer.data())) << c.path;
    }
}

TEST(PeVersion, ResourcesWithoutVersionType) {
    std::vector<uint8_t> pe = PeImage("1.2.3.4");
    // Retype the only resource from RT_VERSION (16) to RT_MANIFEST (24).
    const size_t typeEntry = kResourceSectionFileOffset + 16;
    ASSERT_EQ(pe[typeEntry], 16);
    pe[typeEntry] = 24;
    std::vector<uint8_t> block;
    EXPECT_EQ(ReadMemory(pe, block), static_cast<unsigned long>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(PeVersion, TruncatedAtEveryOffsetYieldsNoVersion) {
    const std::vector<uint8_t> pe = PeImage("1.2.3.4");
    std::vector<uint8_t> block;
    ASSERT_EQ(ReadMemory(pe, block), 0ul);
    // The resource data ends before the section's file padding; any cut before that end
    // loses part of the resource.
    size_t resourceEnd = pe.size();
    while (resourceEnd > 0 && pe[resourceEnd - 1] == 0)
        --resourceEnd;
    for (size_t cut = 0; cut < resourceEnd; ++cut) {
        const std::vector<uint8_t> part(pe.begin(), pe.begin() + static_cast<long>(cut));
        std::vector<uint8_t> partBlock;
        EXPECT_NE(ReadMemory(part, partBlock), 0ul) << "cut at " << cut;
    }
    // And through a real file, at a few places.
    TempMachine machine;
    for (size_t cut :
         {size_t{1}, size_t{0x40}, PeOffset(pe) + size_t{10}, size_t{0x1FF}, resourceEnd - 1}) {
        WriteBytes(machine.Native("C:\\cut.dll"),
                   std::vector<uint8_t>(pe.begin(), pe.begin() + static_cast<long>(cut)));
        EXPECT_EQ(ReadFileVersion("C:\\cut.dll").size, 0u) << "cut at " << cut;
    }
}

TEST(PeVersion, HostileHeadersAreRefused) {
    const std::vector<uint8_t> good = PeImage("1.2.3.4");
    std::vector<uint8_t> goodBlock;
    ASSERT_EQ(ReadMemory(good, goodBlock), 0ul);
    const uint32_t pe = PeOffset(good);
    const size_t optional = pe + 24;
    const size_t sectionTable = optional + 224;
    const size_t dataEntry = kResourceSectionFileOffset + 72;
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    };
    const Case cases[] = {
        {"e_lfanew past the end", 0x3C, 0xFFFFFFF0u},
        {"e_lfanew at the end", 0x3C, static_cast<uint32_t>(good.size() - 2)},
        {"no PE signature", pe, 0x00004550u + 1},
        {"unknown optional header magic", optional, 0x0107},
        {"optional header too small", pe + 20, (0x2102u << 16) | 8u},
        {"65535 sections", pe + 4, (1u << 16) | 0x014Cu | 0xFFFF0000u},
        {"resource RVA outside every section", optional + 96 + 16, 0x7FFFF000u},
        {"resource RVA wraps", optional + 96 + 16, 0xFFFFFFFFu},
        {"section raw data past the file", sectionTable + 20, 0xFFFFFE00u},
        {"type directory points at itself as data", kResourceSectionFileOffset + 20, 0},
        {"subdirectory offset past the section", kResourceSectionFileOffset + 20, 0x8FFFFFFFu},
        {"entry count huge", kResourceSectionFileOffset + 12, 0xFFFFFFFFu},
        {"data RVA outside", dataEntry, 0x00900000u},
        {"data size past the section", dataEntry + 4, 0x00100000u},
        {"data size too small", dataEntry + 4, 4},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        Put32(bytes, c.at, c.value);
        std::vector<uint8_t> block;
        EXPECT_NE(ReadMemory(bytes, block), 0ul) << c.what;
    }
}

TEST(PeVersion, LanguageDirectoryPointingBackDoesNotLoop) {
    std::vector<uint8_t> pe = PeImage("1.2.3.4");
    // Name entry -> root directory again: the third level then holds a subdirectory, not data.
    Put32(pe, kResourceSectionFileOffset + 24 + 20, 0x80000000u);
    std::vector<uint8_t> block;
    EXPECT_EQ(ReadMemory(pe, block), static_cast<unsigned long>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST(PeVersion, BlockClaimingMoreThanItsResourceIsCut) {
    std::vector<uint8_t> pe = PeImage("1.2.3.4");
    const size_t blockStart = kResourceSectionFileOffset + 88;
    pe[blockStart] = 0xFF;
    pe[blockStart + 1] = 0xFF;
    const size_t resourceSize =
        pe[kResourceSectionFileOffset + 76] | (pe[kResourceSectionFileOffset + 77] << 8);
    std::vector<uint8_t> block;
    ASSERT_EQ(ReadMemory(pe, block), 0ul);
    EXPECT_EQ(block.size(), resourceSize);
    EXPECT_EQ(block[0] | (block[1] << 8), static_cast<int>(block.size()));
}

TEST(PeVersion, FixedInfoWithoutSignatureIsNotHandedOut) {
    TempMachine machine;
    std::vector<uint8_t> pe = PeImage("1.2.3.4");
    const size_t signature = kResourceSectionFileOffset + 88 + 40;
    ASSERT_EQ(pe[signature], 0xBD);
    pe[signature] = 0;
    WriteBytes(machine.Native("C:\\nosig.dll"), pe);
    const VersionResult r = ReadFileVersion("C:\\nosig.dll");
    EXPECT_GT(r.size, 0u);
    EXPECT_FALSE(r.fixedInfo);
}

TEST(PeVersion, SmallCallerBufferIsFilledConsistently) {
    TempMachine machine;
    WritePe(machine.Native("C:\\v.dll"), "1.2.3.4");
    const DWORD full = GetFileVersionInfoSizeA("C:\\v.dll", nullptr);
    ASSERT_GT(full, 0u);
    for (DWORD len : {DWORD{0}, DWORD{10}, DWORD{40}, DWORD{100}, full / 2, full - 1}) {
        std::vector<uint8_t> buffer(len + 64, 0xCC); // guard bytes after len
        const BOOL ok = GetFileVersionInfoA("C:\\v.dll", 0, len, buffer.data());
        for (size_t i = len; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xCC) << "wrote past " << len;
        if (!ok) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            continue;
        }
        EXPECT_LE(winshim::VersionBufferSize(buffer.data()), len);
        VS_FIXEDFILEINFO* info = nullptr;
        UINT l = 0;
        // Whatever fits answers; what was cut off is simply not found.
        if (VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &l)) {
            EXPECT_EQ(info->dwFileVersionMS, 0x00010002u);
        }
        wchar_t* text = nullptr;
        EXPECT_FALSE(VerQueryValueW(buffer.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                                    reinterpret_cast<LPVOID*>(&text), &l));
    }
}

TEST(PeVersionResource, OnlyVsVersionInfoWithIdOneIsRead) {
    std::vector<uint8_t> image = PeImage("1.2.3.4");
    // The name directory's one entry: id 1, pointing at the language directory (offset 48).
    const uint8_t entry[] = {1, 0, 0, 0, 48, 0, 0, 0x80};
    auto at = std::search(image.begin(), image.end(), std::begin(entry), std::end(entry));
    ASSERT_NE(at, image.end());
    std::vector<uint8_t> block;
    EXPECT_EQ(ReadMemory(image, block), static_cast<unsigned long>(ERROR_SUCCESS));
    *at = 102; // a launcher's version resource under another id: Windows finds none
    EXPECT_EQ(ReadMemory(image, block), static_cast<unsigned long>(ERROR_RESOURCE_NAME_NOT_FOUND));
}
