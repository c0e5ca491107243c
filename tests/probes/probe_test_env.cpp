#include "probe_test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

namespace fs = std::filesystem;

namespace probetest {

void MakeKey(HKEY root, const std::string& subKey) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_WRITE, nullptr, &key, nullptr);
    ASSERT_EQ(rc, ERROR_SUCCESS) << "creating " << subKey;
    RegCloseKey(key);
}

void PutValue(HKEY root, const std::string& subKey, const std::string& name, DWORD type,
              const void* data, DWORD size) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_WRITE, nullptr, &key, nullptr);
    ASSERT_EQ(rc, ERROR_SUCCESS) << "creating " << subKey;
    rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    ASSERT_EQ(rc, ERROR_SUCCESS) << "setting " << subKey << " " << name;
}

void PutDword(HKEY root, const std::string& subKey, const std::string& name, DWORD value) {
    PutValue(root, subKey, name, REG_DWORD, &value, sizeof value);
}

void PutString(HKEY root, const std::string& subKey, const std::string& name,
               const std::string& text) {
    PutValue(root, subKey, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

RawValue ReadValue(HKEY root, const std::string& subKey, const std::string& name) {
    RawValue out;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return out;
    std::vector<BYTE> buf(4096);
    DWORD size = static_cast<DWORD>(buf.size());
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, buf.data(), &size) == ERROR_SUCCESS) {
        out.found = true;
        out.type = type;
        out.data.assign(buf.begin(), buf.begin() + size);
    }
    RegCloseKey(key);
    return out;
}

bool KeyExists(HKEY root, const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::vector<BYTE> DwordBytes(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

bool SetLastWriteUnixTime(const fs::path& file, int64_t unixSeconds) {
    // The file clock's epoch is not portable in C++17; go through the distance from now.
    using namespace std::chrono;
    const auto target = system_clock::time_point(seconds(unixSeconds));
    const auto delta = duration_cast<fs::file_time_type::duration>(target - system_clock::now());
    std::error_code ec;
    fs::last_write_time(file, fs::file_time_type::clock::now() + delta, ec);
    return !ec;
}

bool WriteFileBytes(const fs::path& file, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteFileBytes(const fs::path& file, const std::vector<uint8_t>& bytes) {
    return WriteFileBytes(file, std::string(bytes.begin(), bytes.end()));
}

fs::path WriteInstaller(const fs::path& dir, const std::string& baseNameUtf8,
                        const fs::path& marker, int exitCode) {
#ifdef _WIN32
    fs::path file = dir / fs::u8path(baseNameUtf8 + ".cmd");
    std::string text = "@echo off\r\necho ran> \"" + marker.string() + "\"\r\nexit " +
                       std::to_string(exitCode) + "\r\n";
#else
    // No run bit: the shell starts a file the way Windows does, whatever its mode.
    fs::path file = dir / fs::u8path(baseNameUtf8);
    std::string text =
        "#!/bin/sh\necho ran > '" + marker.string() + "'\nexit " + std::to_string(exitCode) + "\n";
#endif
    WriteFileBytes(file, text);
    return file;
}

} // namespace probetest
