#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// PE files for tests, made by the PE writer: a resource-only DLL whose RT_VERSION resource
// carries the given file version "a.b.c.d" (and the same product version and strings).
std::vector<uint8_t> PeImage(const std::string& version, bool x64 = false);
// A PE DLL with no resources at all.
std::vector<uint8_t> PeImageWithoutResources(bool x64 = false);

// Writes bytes to a file, creating its parent folders.
void WriteBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
void WritePe(const std::filesystem::path& file, const std::string& version, bool x64 = false);
