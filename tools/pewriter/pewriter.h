// Writes small but proper PE images (PE32 i386 or PE32+ x64) whose only content is a
// resource section with an RT_VERSION resource, as a resource-only DLL or EXE would
// carry. Plain C++: builds natively and with MinGW.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pewriter {

// a.b.c.d, each part 0..65535.
using FourPartVersion = std::array<uint16_t, 4>;

// Parses "a.b.c.d" (exactly four decimal parts). False on anything else.
bool ParseVersion(const std::string& text, FourPartVersion& out);
std::string FormatVersion(const FourPartVersion& v);

struct VersionResource {
    FourPartVersion fileVersion{};
    FourPartVersion productVersion{};
    // StringFileInfo entries of the 040904B0 (US English, UTF-16) table; UTF-8 here.
    std::vector<std::pair<std::string, std::string>> strings;
};

// File and product version v, with "FileVersion" and "ProductVersion" strings.
VersionResource MakeVersionResource(const FourPartVersion& v);

enum class Machine { I386, Amd64 };

struct ImageSpec {
    Machine machine = Machine::I386; // I386 gives PE32, Amd64 gives PE32+
    bool dll = true;
    std::optional<VersionResource> version; // none: a data section and no resources
};

// The VS_VERSIONINFO block alone, as it sits in the resource.
std::vector<uint8_t> BuildVersionInfo(const VersionResource& version);

// The whole file.
std::vector<uint8_t> BuildImage(const ImageSpec& imageSpec);

// Writes BuildImage(imageSpec) to path; on failure returns false with a message in error.
bool WriteImage(const std::string& path, const ImageSpec& imageSpec, std::string& error);

} // namespace pewriter
