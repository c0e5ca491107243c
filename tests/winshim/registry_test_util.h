// Small helpers of the registry tests: the machine's registry file and GBK literals.
#pragma once

#include <winshim/windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::filesystem::path RegistryFile(const std::filesystem::path& machine) {
    return machine / "registry.reg";
}

inline std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// "中文" in GBK, as an ANSI program on a Chinese Windows passes it.
inline const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";
