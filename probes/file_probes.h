#pragma once

#include "winapi.h"

#include <filesystem>
#include <string>

int GetFileVersionTime(const std::filesystem::path& dir, const std::string& fileNameUtf8,
                       __time64_t& fileTime, std::string& version);
int GetAppConfigVersion(const std::filesystem::path& dir, const std::string& fileNameUtf8,
                        std::string& version);
__time64_t ParseDateTime(const std::string& text);
void SplitHttpUrl(const std::string& url, std::string& host, std::string& path);
