#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// The whole file, its bytes as they are ("" when it cannot be read).
inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
