// Small helpers of the registry tests: the machine's registry file and GBK literals.
#pragma once

#include "reg_text.h"

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

// A registry file's text as UTF-8 with "\n" line ends (the file is UTF-16LE with a BOM and
// CRLF); a file without the BOM is returned as it is.
inline std::string RegFileText(const std::string& bytes) {
    if (bytes.compare(0, 2, "\xFF\xFE") != 0)
        return bytes;
    std::string text =
        winshim::reg::Utf16LeToUtf8(winshim::reg::Bytes(bytes.begin() + 2, bytes.end()));
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lf += text[i];
    return lf;
}

inline void WriteText(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// "中文" in GBK, as an ANSI program on a Chinese Windows passes it.
inline const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";
