#pragma once

// Unpacks the ZIP archive of a portable release (the folder scripts/package-windows zips):
// stored and deflated entries, as every zip tool writes them. Refused: names that would leave
// the destination (absolute, drive letters, "..", backslashes, NUL), encrypted or ZIP64
// entries, an entry whose CRC-32 or length is not what the directory says, more than
// kZipMaxEntries entries or kZipMaxBytes unpacked.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

inline constexpr std::size_t kZipMaxEntries = 10000;
inline constexpr std::uint64_t kZipMaxBytes = std::uint64_t(1) << 30;

// Writes every file of `archive` below `destination` (an existing, empty folder), with the
// relative paths of what it wrote in `files`. False with `why` on the first fault; what was
// written before it is left for the caller to remove with the folder.
bool ExtractZip(const std::filesystem::path& archive, const std::filesystem::path& destination,
                std::vector<std::filesystem::path>& files, std::string& why);
