#pragma once

#include <filesystem>
#include <string>

// The SHA-256 digest of a file as 64 lower-case hex digits, read in chunks. On failure returns
// false with a message.
bool Sha256OfFile(const std::filesystem::path& file, std::string& hex, std::string& error);
