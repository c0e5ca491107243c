// GetFileVersionInfoSizeA, GetFileVersionInfoA and VerQueryValueW over images made by the PE
// writer: what one implementation reads from them, the other must read too.
#include "api_env.h"
#include "pewriter.h"

#include <algorithm>

namespace fs = std::filesystem;
using namespace apitest;

namespace {

struct VersionRead {
    DWORD size = 0;
    DWORD error = 0;
    DWORD handle = 123;
    std::vector<uint8_t> buffer;
};

VersionRead Read(const std::string& ansiPath) {
    VersionRead r;
    SetLastError(0);
    r.size = GetFileVersionInfoSizeA(ansiPath.c_str(), &r.handle);
    r.error = GetLastError();
    if (r.size == 0)
        return r;
    r.buffer.resize(r.size);
    EXPECT_TRUE(GetFileVersionInfoA(ansiPath.c_str(), 0, r.size, r.buffer.data())) << ansiPath;
    return r;
}

std::wstring StringValue(const std::vector<uint8_t>& buffer, const wchar_t* subBlock) {
    wchar_t* text = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(buffer.data(), subBlock, reinterpret_cast<LPVOID*>(&text), &len))
        return L"<none>";
    std::wstring s(text, len);
    while (!s.empty() && s.back() == L'\0')
        s.pop_back();
    return s;
}

std::vector<uint8_t> Image(pewriter::Machine machine, bool dll, const char* version) {
    pewriter::ImageSpec imageSpec;
    imageSpec.machine = machine;
    imageSpec.dll = dll;
    if (version) {
        pewriter::FourPartVersion v{};
        EXPECT_TRUE(pewriter::ParseVersion(version, v));
        imageSpec.version = pewriter::MakeVersionResource(v);
    }
    return pewriter::BuildImage(imageSpec);
}

using VersionApi = ApiTest;

TEST_F(VersionApi, ReadsTheWritersImagesOfBothMachinesAndKinds) {
    const struct {
        pewriter::Machine machine;
        bool dll;
        const char* version;
        DWORD ms, ls;
    } cases[] = {
        {pewriter::Machine::I386, true, "1.2.3.4", 0x00010002, 0x00030004},
        {pewriter::Machine::I386, false, "10.0.19041.1", 0x000A0000, 0x4A610001},
        {pewriter::Machine::Amd64, true, "65535.0.65535.0", 0xFFFF0000, 0xFFFF0000},
        {pewriter::Machine::Amd64, false, "3.1.0.7", 0x00030001, 0x00000007},
    };
    int n = 0;
    for (const auto& c : cases) {
        const fs::path file = machine.dir() / ("image" + std::to_string(n++) + ".dll");
        WriteFile(file, Image(c.machine, c.dll, c.version));
        const VersionRead r = Read(Ansi(file));
        ASSERT_GT(r.size, 0u) << c.version << " error " << r.error;
        EXPECT_EQ(r.handle, 0u) << c.version;

        VS_FIXEDFILEINFO* info = nullptr;
        UINT len = 0;
        ASSERT_TRUE(VerQueryValueW(r.buffer.data(), L"\\", reinterpret_cast<LPVOID*>(&info), &len))
            << c.version;
        EXPECT_EQ(len, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(info->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
        EXPECT_EQ(info->dwFileVersionMS, c.ms) << c.version;
        EXPECT_EQ(info->dwFileVersionLS, c.ls) << c.version;
        EXPECT_EQ(info->dwProductVersionMS, c.ms) << c.version;
        EXPECT_EQ(info->dwProductVersionLS, c.ls) << c.version;

        const std::wstring text(c.version, c.version + std::char_traits<char>::length(c.version));
        EXPECT_EQ(StringValue(r.buffer, L"\\StringFileInfo\\040904B0\\FileVersion"), text);
        EXPECT_EQ(StringValue(r.buffer, L"\\StringFileInfo\\040904B0\\ProductVersion"), text);
        EXPECT_EQ(StringValue(r.buffer, L"\\StringFileInfo\\040904B0\\CompanyName"), L"<none>");
        EXPECT_EQ(StringValue(r.buffer, L"\\NoSuchBlock"), L"<none>");
        DWORD* translation = nullptr;
        ASSERT_TRUE(VerQueryValueW(r.buffer.data(), L"\\VarFileInfo\\Translation",
                                   reinterpret_cast<LPVOID*>(&translation), &len));
        EXPECT_EQ(len, 4u);
        EXPECT_EQ(LOWORD(*translation), 0x0409);
        EXPECT_EQ(HIWORD(*translation), 1200);
    }
}

TEST_F(VersionApi, ChineseFolderAndTheProbesDoubledSlash) {
    if (!AnsiIsGbk())
        GTEST_SKIP() << "the ANSI code page is not GBK";
    const fs::path dir = machine.dir() / fs::u8path("驱动");
    WriteFile(dir / fs::u8path("证书.dll"), Image(pewriter::Machine::I386, true, "3.1.0.7"));
    const VersionRead r = Read(Ansi(dir) + "//" + Gbk("证书.dll"));
    ASSERT_GT(r.size, 0u) << "error " << r.error;
    EXPECT_EQ(StringValue(r.buffer, L"\\StringFileInfo\\040904B0\\FileVersion"), L"3.1.0.7");
}

TEST_F(VersionApi, FilesWithoutAVersionGiveNoSize) {
    const fs::path dir = machine.dir();
    WriteFile(dir / "text.txt", std::string("hello\n"));
    WriteFile(dir / "nores.dll", Image(pewriter::Machine::I386, true, nullptr));
    WriteFile(dir / "nores64.dll", Image(pewriter::Machine::Amd64, true, nullptr));
    // Windows versions differ in the code for a file that has no version resource: the
    // data or the type is "not found", or the file is "not a valid image".
    const std::vector<DWORD> noVersion = {ERROR_RESOURCE_DATA_NOT_FOUND,
                                          ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_BAD_FORMAT};
    const struct {
        fs::path file;
        std::vector<DWORD> errors;
    } cases[] = {
        {dir / "missing.dll", {ERROR_FILE_NOT_FOUND}},
        {dir / "no" / "such" / "x.dll", {ERROR_PATH_NOT_FOUND}},
        {dir / "text.txt", noVersion},
        {dir / "nores.dll", noVersion},
        {dir / "nores64.dll", noVersion},
    };
    for (const auto& c : cases) {
        const VersionRead r = Read(Ansi(c.file));
        EXPECT_EQ(r.size, 0u) << c.file.u8string();
        EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), r.error), c.errors.end())
            << c.file.u8string() << ": error " << r.error;
        std::vector<uint8_t> buffer(256);
        EXPECT_FALSE(GetFileVersionInfoA(Ansi(c.file).c_str(), 0, 256, buffer.data()))
            << c.file.u8string();
    }
}

} // namespace
