#pragma once

#include "winapi.h"

#include <filesystem>
#include <string>

// A file's last-write time in UTC, to the minute.
struct FileMinute {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};

int GetFileVersionTime(const std::filesystem::path& dir, const std::string& fileNameUtf8,
                       __time64_t& fileTime, std::string& version,
                       FileMinute* lastWriteUtc = nullptr);
int GetAppConfigVersion(const std::filesystem::path& dir, const std::string& fileNameUtf8,
                        std::string& version);
__time64_t ParseDateTime(const std::string& text);
void SplitHttpUrl(const std::string& url, std::string& host, std::string& path);
